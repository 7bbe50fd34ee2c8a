#include "scope/ui/channel_dlg.h"

#include <QButtonGroup>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/number_text.h"
#include "widgets/colour_picker.h"

namespace zelbo::scope {

CChannelDlg::CChannelDlg(int channel, QWidget* parent) : QDialog(parent, Qt::Tool), channel_(channel)
{
    setWindowTitle(QStringLiteral("CH%1").arg(channel + 1));
    setObjectName(QStringLiteral("ChannelDlg%1").arg(channel + 1));

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Name")), 0, 0);
    name_ = new QLineEdit;
    name_->setMaxLength(7);
    grid->addWidget(name_, 0, 1);
    grid->addWidget(new QLabel(tr("Color")), 1, 0);
    colour_ = new CColourPickerCB;
    grid->addWidget(colour_, 1, 1);

    auto* posBox = new QGroupBox(tr("Position"));
    auto* posLayout = new QHBoxLayout(posBox);
    slider_ = new QSlider(Qt::Vertical);
    slider_->setRange(-10, 10);
    slider_->setTickInterval(10);
    slider_->setTickPosition(QSlider::TicksRight);
    slider_->setInvertedAppearance(true); // -10 (the highest position) at the top
    slider_->setInvertedControls(true);
    slider_->setValue(0);
    slider_->setMinimumHeight(140);
    posLayout->addWidget(slider_);
    auto* marks = new QVBoxLayout;
    maxLabel_ = new QLabel(QString::asprintf("%.01f div", 5.0));
    minLabel_ = new QLabel(QString::asprintf("%.01f div", -5.0));
    marks->addWidget(maxLabel_);
    marks->addStretch();
    marks->addWidget(new QLabel(QStringLiteral("0 div")));
    marks->addStretch();
    marks->addWidget(minLabel_);
    posLayout->addLayout(marks);
    auto* divRow = new QVBoxLayout;
    divRow->addStretch();
    div_ = new QLineEdit(positionText(0));
    div_->setMaximumWidth(56);
    // A sign, digits and one decimal point or comma ("1,5" as German users
    // type it); the value is read by the shared number parser on entry.
    div_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("\\s*[-+]?\\d{0,2}([.,]\\d{0,3})?\\s*")), div_));
    divRow->addWidget(div_);
    divRow->addWidget(new QLabel(QStringLiteral("div")));
    divRow->addStretch();
    posLayout->addLayout(divRow);
    grid->addWidget(posBox, 2, 0, 1, 2);

    auto* srcBox = new QGroupBox(tr("Source"));
    auto* srcLayout = new QHBoxLayout(srcBox);
    sources_ = new QButtonGroup(this);
    const QString names[] = {tr("Voltage"), tr("Current"), tr("ICC")};
    for (int i = 0; i < 3; ++i) {
        auto* rb = new QRadioButton(names[i]);
        sources_->addButton(rb, i);
        srcLayout->addWidget(rb);
    }
    sources_->button(0)->setChecked(true);
    grid->addWidget(srcBox, 3, 0, 1, 2);

    connect(name_, &QLineEdit::editingFinished, this, &CChannelDlg::notify);
    connect(colour_, &CColourPickerCB::colourChosen, this, &CChannelDlg::notify);
    connect(sources_, &QButtonGroup::idClicked, this, &CChannelDlg::notify);
    connect(slider_, &QSlider::valueChanged, this, [this](int v) {
        div_->setText(positionText(v));
        notify();
    });
    connect(div_, &QLineEdit::editingFinished, this, &CChannelDlg::onDivEdited);
}

QString CChannelDlg::positionText(int sliderValue)
{
    const double v = sliderValue * -0.5;
    QString s = QString::asprintf("%.01f", v);
    if (s == QLatin1String("-0.0"))
        s = QStringLiteral("0.0");
    return s;
}

ChannelSettings CChannelDlg::settings() const
{
    ChannelSettings s;
    s.label = name_->text();
    s.colour = colour_->colour();
    s.position = -slider_->value();
    s.source = std::max(0, sources_->checkedId());
    return s;
}

void CChannelDlg::setLabel(const QString& label)
{
    name_->setText(label.left(7));
}

void CChannelDlg::setColour(QRgb colour)
{
    const QSignalBlocker b(colour_);
    colour_->setColour(colour);
}

void CChannelDlg::setPosition(int position)
{
    const QSignalBlocker b(slider_);
    slider_->setValue(-position);
    div_->setText(positionText(slider_->value()));
}

void CChannelDlg::setSource(int source)
{
    if (auto* b = sources_->button(source))
        b->setChecked(true);
}

void CChannelDlg::onDivEdited()
{
    const std::optional<double> read = readNumber(div_->text().toStdString(), false);
    const double v = read.value_or(0.0);
    if (!read || !std::isfinite(v)) {
        div_->setText(positionText(slider_->value()));
        return;
    }
    const int value = std::clamp(int(std::lround(-v * 2.0)), -10, 10);
    if (value == slider_->value()) {
        div_->setText(positionText(value));
        return;
    }
    slider_->setValue(value); // reformats the edit and reports the change
}

void CChannelDlg::notify()
{
    emit settingsChanged(channel_, settings());
}

} // namespace zelbo::scope
