// SPDX-License-Identifier: MIT
#pragma once
// Conversion of the wide strings the HID layer reports (serial numbers,
// manufacturer and product names).

#include <string>

namespace vantor {

// A HID string (UTF-32 or UTF-16, as wchar_t is wide) as UTF-8; unpaired
// surrogates and values beyond U+10FFFF become U+FFFD.
std::string wideToUtf8(const std::wstring& text);

}  // namespace vantor
