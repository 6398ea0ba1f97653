// SPDX-License-Identifier: MIT
#pragma once
// The far end of the adapter's UART: a loopback wire, bytes arriving on RX,
// and the record of what the adapter sent on TX.

#include <cstdint>

#include "sim/VirtualAdapterCore.h"
#include "sim/records/UartRecords.h"

namespace vantor::sim {

class UartBench {
  public:
    explicit UartBench(VirtualAdapter::State& state) : state_(state) {}
    UartBench(const UartBench&) = delete;
    UartBench& operator=(const UartBench&) = delete;

    // Loopback wires TX to RX: every byte sent comes back as received bytes.
    void setLoopback(bool enabled);
    bool loopback() const;
    // Bytes arriving on RX, reported to the host as UART notifications.
    // False (bytes lost) when the UART is not initialised or the adapter is
    // unplugged.
    bool inject(const Bytes& data);
    // Everything sent on TX since the last `clearSent`.
    Bytes sent() const;
    void clearSent();
    UartState state() const;

  private:
    VirtualAdapter::State& state_;
};

}  // namespace vantor::sim
