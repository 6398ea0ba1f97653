// SPDX-License-Identifier: MIT
#pragma once
// Delivery of a facade's notifications, and of the asynchronous facade's
// responses, to their Python callbacks.
//
// The SDK's reader thread reads every input report and matches every
// response; it must never wait for the interpreter lock, or a Python thread
// busy for a few milliseconds would stop it (and the adapter's reports would
// pile up in the operating system's small HID queue and be lost). So the
// reader thread only copies each notification into a bounded queue, without
// the interpreter lock, and a delivery thread of the facade takes the lock
// once per batch of up to kBatch notifications, converts them and calls the
// callback for each, in the order they arrived.
//
// The queue is a ring of byte buffers, reused from one notification to the
// next: once the ring has grown to the traffic, queueing allocates nothing.
// At most kCapacity notifications wait; a notification arriving while the
// queue is full is dropped and counted (`dropped()`), and the delivery
// thread logs the drops on "pyvantorsdk.backend" at error level. With no
// callback installed for a message nothing is queued.
//
// Notifications (transaction id 0) go to the notification slot as
// notification objects; any other message goes to the response slot as
// `bytes` holding the whole message. Both share the queue, so the callbacks
// see the messages in the order they arrived.
//
// The loss of the connection (the adapter was unplugged) is announced by
// the reader thread with pushConnectionLost; the delivery thread calls the
// connection-lost slot's callable, without arguments, once every message
// queued before the loss has been delivered. The announcement takes no room
// in the ring and is never dropped.
//
// The delivery thread is started when a callback is installed and by every
// connect, and stopped (joined) by disconnect, which first lets it deliver
// what was queued, by the facade's destruction and by the module's exit
// hook, which drop what is queued. It has one Python thread state for its
// life. A callback runs on it; the facade refuses a blocking call made there
// (`onDeliveryThread`), as the call would hold up every later notification.
//
// Locks: the queue mutex is held only to queue or take buffers, never while
// Python runs or while waiting for the interpreter lock. The life mutex
// (start, stop) is never waited for with the interpreter lock held: lock
// order is life mutex, then interpreter lock.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "bindings/Notifications.h"
#include "sdk/core/Notification.h"

namespace pyvantorsdk {

class NotificationDelivery {
  public:
    static constexpr size_t kCapacity = 65536;
    static constexpr size_t kBatch = 256;

    NotificationDelivery();
    // Stops the thread, dropping what is queued (see stop).
    ~NotificationDelivery();
    NotificationDelivery(const NotificationDelivery&) = delete;
    NotificationDelivery& operator=(const NotificationDelivery&) = delete;

    CallbackSlot& slot();
    CallbackSlot& responseSlot();
    CallbackSlot& connectionLostSlot();
    // True when any slot holds a callable.
    bool anyInstalled() const;

    // Reader thread, no interpreter lock: queues a copy of the message.
    void push(const vantor::Notification& n) noexcept;
    // The same for a whole message of at least 6 bytes: a notification when
    // its transaction id is 0, else a response.
    void push(const uint8_t* message, size_t length) noexcept;
    // Reader thread, no interpreter lock: the connection is lost.
    void pushConnectionLost() noexcept;

    // Starts the delivery thread unless it runs. Interpreter lock held.
    void start();

    enum class Pending { Deliver, Drop };
    // Stops the delivery thread and waits for it to end, after it has
    // delivered (or dropped) what is queued. Called from any thread, with or
    // without the interpreter lock (released while waiting). Called on the
    // delivery thread itself (a callback destroyed the facade), it lets the
    // thread end on its own once the callback returns.
    void stop(Pending pending);

    uint64_t dropped() const;
    bool onDeliveryThread() const;

    struct State;

  private:
    // Shared with the delivery thread, which may outlive this object (see
    // stop).
    std::shared_ptr<State> state_;
    std::mutex lifeMutex_;
    std::thread thread_;
};

}  // namespace pyvantorsdk
