#pragma once
// One value column of the main window (VREF, MTH or CLK): the value field, the
// MAX / STEP / MIN limit fields and the vertical slider whose top is the
// largest value. This class keeps the texts and the slider and applies the
// column rules; the register effects of a new value belong to DriveCore.

#include <string>

namespace zelbo::drive {

enum class ColumnId { Vref = 0, Mth = 1, Clk = 2 };
enum class Limit { Max, Step, Min };

struct ColumnSpec {
    double absoluteMax;  // largest value the column may ever hold
    double resolution;   // smallest step
    const char* resetMax;
    const char* resetMin;
    const char* resetStep;
    int resetRange;      // slider range 0..resetRange after a reset
    int pageDivisor;     // page size = range / pageDivisor
    bool frequency;      // texts as clock frequencies instead of volts
};

const ColumnSpec& columnSpec(ColumnId id);
// "VREF", "MTH", "CLK": the column's caption in messages.
const char* columnName(ColumnId id);

// What a front end without the window's fields may set in a column: VREF and
// MTH 0 V to the column's absolute top, CLK from the generator's slowest
// clock to the column's top. Empty when `v` is within; otherwise the reason,
// with the range ("VREF 9 V is out of range (0 to 3 V).").
std::string rangeError(ColumnId id, double v);

class Column {
public:
    explicit Column(ColumnId id);
    // A column with limits of its own (the advance-mode slider panels); `spec`
    // must outlive it. Such a column shows volts unless `spec` says otherwise.
    Column(ColumnId id, const ColumnSpec& spec) : id_(id), spec_(&spec), name_(columnName(id)) { reset(); }

    ColumnId id() const { return id_; }
    const ColumnSpec& spec() const { return *spec_; }
    // The caption its notes begin with: the column's name unless set.
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

    // Field texts as the user typed them or the program wrote them.
    const std::string& valueText() const { return valueText_; }
    const std::string& limitText(Limit which) const;
    void setValueText(std::string text) { valueText_ = std::move(text); }
    void setLimitText(Limit which, std::string text);

    double value() const { return value_; }
    // A value restored with its text (no grid, no slider).
    void setValue(double v) { value_ = v; }
    int sliderMax() const { return sliderMax_; }
    int sliderPosition() const { return sliderPos_; }
    int pageStep() const { return page_; }

    // Parsed limits ("k" rule). step() is never <= 0: a STEP field that holds
    // no positive number counts as the column's resolution.
    double max() const;
    double min() const;
    double step() const;

    // The value field was committed: clamp to MIN..MAX, round to the step
    // grid, place the slider and rewrite the text. Returns the new value. A
    // text that holds no number is refused: the last good value stays and
    // is shown again. Either that or a clamp leaves a note (entryNote).
    double commit();
    // What the last commit() has to tell the user, empty when nothing.
    const std::string& entryNote() const { return note_; }
    // The slider was moved to pos: value = STEP * (range - pos) + MIN.
    double fromSlider(int pos);
    // A limit field was committed: correct it, rewrite it, re-range the
    // slider. The caller then re-commits the value field. A limit text that
    // holds no number is refused (the last good limit comes back); that or a
    // correction leaves a note (entryNote) until the next commit.
    void validate(Limit which);
    // Reset limits, slider range and page, thumb at the smallest value.
    void reset();
    // Shows value v in the value field (written only when different).
    void showValue(double v);
    // The clock display refresh after a reset: value field from the slider.
    void refreshFromSlider();

    std::string format(double v) const;

private:
    void setSliderRange(int max);
    void setSliderPosition(int pos);

    ColumnId id_;
    const ColumnSpec* spec_;
    std::string valueText_;
    std::string maxText_, stepText_, minText_;
    std::string note_;
    std::string name_;
    // The limit texts as last accepted, what a refused entry goes back to.
    std::string goodMax_, goodStep_, goodMin_;
    double value_ = 0.0;
    int sliderMax_ = 0;
    int sliderPos_ = 0;
    int page_ = 0;
};

} // namespace zelbo::drive
