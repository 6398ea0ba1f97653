#pragma once
// Taking the interpreter lock on an SDK reader thread.
//
// Events arrive thousands of times a second, and creating a Python thread
// state per callback costs microseconds each time. The first callback on a
// reader thread creates one thread state and keeps it for the thread's life;
// later callbacks only take and release the lock. The thread state is
// deleted when the thread ends (unless the interpreter is already gone).
//
// Once the interpreter starts shutting down, callbacks are refused: taking
// the lock during finalisation would stop the thread in the middle of native
// code.

namespace pyvantorsdk {

class ReaderGil {
  public:
    ReaderGil();  // takes the lock; check ok() before touching Python
    ~ReaderGil();
    ReaderGil(const ReaderGil&) = delete;
    ReaderGil& operator=(const ReaderGil&) = delete;
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
    bool borrowed_ = false;  // the thread held the lock already
};

// True when the interpreter is gone or finalising: a thread other than the
// finalising one must not ask for the interpreter lock then.
bool interpreterFinalizing();

// True once the interpreter is shutting down; callbacks then do nothing.
bool pythonShuttingDown();
// Called from the module's atexit hook.
void markPythonShuttingDown();

}  // namespace pyvantorsdk
