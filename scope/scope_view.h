#pragma once
// What the acquisition core asks of the chart that shows its traces. The
// line chart implements it; core tests use a recording fake. Every call comes
// from the GUI thread.

#include <string>

namespace zelbo::scope {

struct ScopeChannel;

class ScopeView {
public:
    virtual ~ScopeView() = default;
    virtual void setTimePerDiv(double usPerDiv, const std::string& text) = 0;
    // Back to time 0 with the scales recomputed (every Run).
    virtual void resetScroll() = 0;
    virtual bool hasTrace(const std::string& key) const = 0;
    // The chart keeps the pointer, not the channel: channels outlive the chart's references.
    virtual void addTrace(const std::string& key, ScopeChannel* channel) = 0;
    virtual void removeTrace(const std::string& key) = 0;
    virtual void traceSetChanged() = 0;
    // 1 when the trigger slope is "-".
    virtual void setSlopeIndicator(int slope) = 0;
};

} // namespace zelbo::scope
