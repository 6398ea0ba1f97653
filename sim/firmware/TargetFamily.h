// SPDX-License-Identifier: MIT
#pragma once
// The common base of the target-role families: their host commands answer
// either over USB (the normal path) or, for the bench's `command`, into a
// sink that the bench reads back, with the bulk data phases taken from and
// given to the sink instead of the vendor endpoints.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "sim/firmware/Firmware.h"
#include "sim/records/TargetRecords.h"

namespace vantor::sim {

class TargetFamily : public FirmwareFamily {
  public:
    // Runs one host command (`code`, `params`) through this family's table
    // with the answer, the bulk IN data and the bulk OUT data in the sink.
    // Firmware mutex held.
    HostCommandResult command(Firmware& firmware, uint16_t code, const Bytes& params,
                              const Bytes& bulkOut) {
        HostCommandResult result;
        // Transaction id 1, the code, the parameters.
        Bytes message(kRequestHeaderSize + params.size());
        message[0] = 1;
        message[2] = static_cast<uint8_t>(code & 0xFF);
        message[3] = static_cast<uint8_t>(code >> 8);
        std::copy(params.begin(), params.end(), message.begin() + kRequestHeaderSize);
        const Request request(message);
        for (const CommandInfo& row : commands()) {
            if (row.code != code) continue;
            if (request.paramSize() < row.minParams) {
                result.response =
                    MessageBuilder::response(request, status::kInvalidParameter).take();
                return result;
            }
            Sink sink{&result, bulkOut};
            sink_ = &sink;
            row.handler(request, firmware);
            sink_ = nullptr;
            return result;
        }
        result.response = MessageBuilder::response(request, status::kUnsupportedCommand).take();
        return result;
    }

  protected:
    void reply(Firmware& firmware, Bytes message) {
        if (sink_ != nullptr) {
            sink_->result->response = std::move(message);
        } else {
            firmware.respond(message);
        }
    }
    void reply(Firmware& firmware, const Request& request, uint16_t status) {
        reply(firmware, MessageBuilder::response(request, status).take());
    }
    void sendBulkIn(Firmware& firmware, const Bytes& data) {
        if (sink_ != nullptr) {
            sink_->result->bulkIn = data;
        } else {
            firmware.queueBulkIn(data.data(), data.size());
        }
    }
    // Calls `handler` with `count` bulk OUT bytes (nothing when they do not
    // come; from the sink: nothing when it holds fewer).
    void awaitData(Firmware& firmware, size_t count, Firmware::BulkOutHandler handler) {
        if (sink_ == nullptr) return firmware.awaitBulkOut(count, std::move(handler));
        if (sink_->bulkOut.size() < count) return handler(firmware, std::nullopt);
        handler(firmware,
                Bytes(sink_->bulkOut.begin(), sink_->bulkOut.begin() + static_cast<long>(count)));
    }
    // Whether the command runs for the bench (no vendor interface needed).
    bool fromBench() const { return sink_ != nullptr; }

  private:
    struct Sink {
        HostCommandResult* result;
        const Bytes& bulkOut;
    };
    Sink* sink_ = nullptr;
};

}  // namespace vantor::sim
