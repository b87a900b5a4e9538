// The busy state around a long computation: the wait box, the wait cursor and, in the crystal
// program, a raised thread priority. The platform supplies a BusyIndicator; the engine holds a
// BusyScope, which ends the busy state on every exit. A failure message must come after the busy
// state has ended, so the engine calls end() before it reports.
#pragma once

#include <cstdint>
#include <functional>

namespace core {

class BusyIndicator {
  public:
    virtual ~BusyIndicator() = default;
    virtual void beginBusy() = 0;
    virtual void endBusy() = 0;
};

// Does nothing: for callers with nothing to show.
class NoBusyIndicator final : public BusyIndicator {
  public:
    void beginBusy() override {}
    void endBusy() override {}
};

class BusyScope {
  public:
    explicit BusyScope(BusyIndicator& indicator) : indicator_(&indicator) {
        indicator_->beginBusy();
    }
    ~BusyScope() { end(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    // Ends the busy state now; later calls and the destructor do nothing.
    void end() {
        if (indicator_) {
            indicator_->endBusy();
            indicator_ = nullptr;
        }
    }

  private:
    BusyIndicator* indicator_;
};

// Progress of long work as a fraction 0..1; may be empty.
using Progress = std::function<void(double fraction)>;

}  // namespace core
