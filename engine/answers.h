#pragma once
// The board's answers to register reads, decoded by the features that ask for
// them and handed to whoever listens: a whole diode code (thermal), the end of
// a counted run (drive clock), the sequencer's row (dynamic sequences). The
// engine feeds it every answer the link reports, in arrival order, on the
// walking thread (one walk at a time); listeners may be set from any thread
// and run there, so they must not block on the thread that waits for the link.

#include <cstdint>
#include <functional>
#include <mutex>

#include "common/command_port.h"
#include "drive/sequence.h"
#include "link/event.h"
#include "thermal/thermometer.h"

namespace zelbo::engine {

class Answers {
public:
    // `port` takes the follow-up read a row answer asks for.
    explicit Answers(CommandPort& port) : port_(port) {}

    // One register-read answer.
    void take(std::uint8_t reg, std::uint8_t value);

    void onTemperature(std::function<void(std::uint16_t code)> fn);
    void onClockRunEnded(std::function<void()> fn);
    void onDynamicIndex(std::function<void(std::int16_t index)> fn);
    // Set after each whole diode code (and by whoever wants the next tick's
    // reading to count as fresh).
    link::Event& temperatureEvent() { return temperature_; }

private:
    CommandPort& port_;
    thermal::DiodeCodeAnswers diode_;         // walking thread
    drive::sequence::RowIndexAnswers row_;    // walking thread
    link::Event temperature_{link::Event::Reset::Manual, false, "temperature"};

    std::mutex mutex_; // guards the listeners
    std::function<void(std::uint16_t)> temperatureFn_;
    std::function<void()> runEndedFn_;
    std::function<void(std::int16_t)> rowFn_;
};

} // namespace zelbo::engine
