#include "measure/F_Mesure.h"

#include "common/Logging.h"
#include "config/ChannelConfiguration.h"
#include "config/MeasurementTypes.h"
#include "diagnostics/LineCounters.h"
#include "measure/Bezel.h"
#include "measure/SessionPanels.h"
#include "serial/SerialDevices.h"
#include "serial/SerialSettings.h"
#include "ui/Dialogs.h"
#include "ui/Twips.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace measure {

namespace {

const QColor kLightGrey(192, 192, 192);
const QColor kAmber(255, 176, 0);
const QColor kRed(230, 0, 0);
// Pixels of the alarm ring on each side of a bezel (the bezels stand 13 pixels apart).
constexpr int kRingWidth = 5;

void setColours(QWidget* widget, const QColor& text, const QColor& background)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Window, background);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QFont sansFont(qreal points, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Labels show CR LF line breaks as plain line breaks.
QString forDisplay(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace

QString valueLabelText(const QString& valueText)
{
    // The lines of a value text line up by their characters (the flow panel's units stand one
    // above the other because its lines end with the same blanks), but a right-aligned label
    // drops the trailing blanks of some lines and keeps those of others. Non-breaking spaces
    // are never dropped, and they are as wide as the blanks they replace.
    QStringList lines = forDisplay(valueText).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        for (qsizetype k = line.size() - 1; k >= 0 && line[k] == QLatin1Char(' '); --k)
            line[k] = QChar(0x00A0);
    }
    return lines.join(QLatin1Char('\n'));
}

F_Mesure::F_Mesure(MeasurementContext context, QWidget* parent)
    : F_Mesure(WindowContext{context.dialogs, context.programTitle, context.directory, context.showMainWindow,
                             context.endProgram, context.showDiagnostics, context.showTrends, context.showAlarms},
               new SessionPanels(context.channels, context.flags, context.session, context.settings,
                                 context.lineCounters),
               parent)
{
}

F_Mesure::F_Mesure(WindowContext context, PanelSource* source, QWidget* parent)
    : QWidget(parent)
    , context_(std::move(context))
    , source_(source)
{
    setObjectName(QStringLiteral("F_Mesure"));
    source_->setParent(this);
    connect(source_, &PanelSource::valueShown, this, &F_Mesure::showValue);
    connect(source_, &PanelSource::channelVisited, this, &F_Mesure::updateToolTip);
    connect(source_, &PanelSource::cycleCompleted, this, &F_Mesure::cycleCompleted);
    connect(source_, &PanelSource::stopRequested, this, &F_Mesure::Commande1_Click);
    connect(source_, &PanelSource::portProblem, this, &F_Mesure::reportPortProblem);
    connect(source_, &PanelSource::panelsChanged, this, &F_Mesure::refreshPanels);
    connect(source_, &PanelSource::layoutChanged, this, &F_Mesure::layOut);
    connect(source_, &PanelSource::noticeChanged, this, &F_Mesure::showNotice);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral(" [ Mesure ]"));
    setColours(this, Qt::black, kLightGrey);
    // Before it is maximised the window takes the screen's free area (at least its design size),
    // so that it fills the screen even where no window manager maximises it.
    QSize size(ui::twipsToPixels(11355), ui::twipsToPixels(7500));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.expandedTo(screen->availableSize());
    resize(size);
    buildControls();

    // The main window and its menus are hidden while measuring, and that is when the line's
    // counters and the live trends matter: the window's context menu (and Ctrl+D, Ctrl+T) opens them.
    const auto addCommand = [this](const QString& text, const char* name, QKeyCombination key,
                                   const std::function<void()>& command) {
        if (!command)
            return;
        auto* action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(QKeySequence(key));
        connect(action, &QAction::triggered, this, command);
        addAction(action);
        setContextMenuPolicy(Qt::ActionsContextMenu);
    };
    addCommand(QStringLiteral("&Diagnostics..."), "ShowDiagnostics", Qt::CTRL | Qt::Key_D, context_.showDiagnostics);
    addCommand(QStringLiteral("&Trends..."), "ShowTrends", Qt::CTRL | Qt::Key_T, context_.showTrends);
    addCommand(QStringLiteral("&Alarms..."), "ShowAlarms", Qt::CTRL | Qt::Key_A, context_.showAlarms);

    // Twice a second: slow enough to read the value through it, quick enough to catch the eye.
    blink_.setObjectName(QStringLiteral("AlarmBlink"));
    blink_.setInterval(500);
    connect(&blink_, &QTimer::timeout, this, [this] {
        blinkOn_ = !blinkOn_;
        paintAlarmRings();
    });
}

void F_Mesure::buildControls()
{
    commande1_ = new QPushButton(QStringLiteral("ABANDON"), this);
    commande1_->setObjectName(QStringLiteral("Commande1"));
    commande1_->setGeometry(ui::twipsRect(270, 6840, 1275, 465));
    connect(commande1_, &QPushButton::clicked, this, &F_Mesure::Commande1_Click);

    // Two overlapping headings, grey behind red, give the title a shadow.
    const std::array<QColor, 2> headingColours{QColor(255, 0, 0), QColor(128, 128, 128)};
    const std::array<QRect, 2> headingPlaces{ui::twipsRect(1800, 390, 2805, 375), ui::twipsRect(1830, 405, 2805, 375)};
    for (size_t k = 0; k < 2; ++k) {
        auto* label = new QLabel(QStringLiteral("Suivi des mesures"), this);
        label->setObjectName(QStringLiteral("Etiquette2_%1").arg(k));
        label->setFont(sansFont(13.5, true));
        label->setGeometry(headingPlaces[k]);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, headingColours[k]);
        label->setPalette(palette);
        etiquette2_[k] = label;
    }
    etiquette2_[0]->raise();

    // Above the heading, where the design leaves room: where the values come from when that is
    // worth saying (a station service that cannot be reached). Never a box: a box would have to
    // be answered, and the window goes on by itself.
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("Notice"));
    notice_->setGeometry(ui::twipsRect(kFrameLeft, 30, kFrameWidth, 345));
    notice_->setFont(sansFont(9.5, true));
    setColours(notice_, QColor(128, 0, 0), QColor(255, 255, 192));
    notice_->setFrameShape(QFrame::Box);
    notice_->setIndent(6);
    notice_->hide();

    cadre1_ = new QFrame(this);
    cadre1_->setObjectName(QStringLiteral("Cadre1"));
    cadre1_->setFrameShape(QFrame::Box);
    cadre1_->setGeometry(ui::twipsRect(kFrameLeft, kFrameTop, kFrameWidth, kFrameDesignHeight));
    setColours(cadre1_, Qt::black, kLightGrey);

    dessin2_ = new QLabel(cadre1_);
    dessin2_->setObjectName(QStringLiteral("Dessin2"));
    dessin2_->setGeometry(ui::twipsRect(kBackgroundLeft, kBackgroundTop, kBackgroundWidth, 6075));

    const QPixmap bezel = drawBezel();
    for (int i = 0; i < kPanelCount; ++i) {
        const auto k = static_cast<size_t>(i);
        // Behind the bezel and a little larger, so that the bezel and its value stay as they are.
        auto* ring = new QFrame(cadre1_);
        ring->setObjectName(QStringLiteral("AlarmRing_%1").arg(i));
        ring->setAutoFillBackground(true);
        ring->hide();
        alarmRings_[k] = ring;

        auto* picture = new QLabel(cadre1_);
        picture->setObjectName(QStringLiteral("Dessin1_%1").arg(i));
        picture->setFrameShape(QFrame::Box);
        picture->setLineWidth(1);
        picture->setScaledContents(true);
        picture->setPixmap(bezel);
        dessin1_[k] = picture;

        auto* value = new QLabel(cadre1_);
        value->setObjectName(QStringLiteral("Etiquette3_%1").arg(i));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setFont(sansFont(13.5, true));
        setColours(value, QColor(255, 255, 0), QColor(0, 0, 192));
        etiquette3_[k] = value;

        auto* tag = new QLabel(cadre1_);
        tag->setObjectName(QStringLiteral("Etiquette1_%1").arg(i));
        tag->setAlignment(Qt::AlignRight | Qt::AlignTop);
        tag->setFont(sansFont(12, false));
        etiquette1_[k] = tag;
    }
    layout_ = LayoutChannelPanels({});
    applyLayout();
}

void F_Mesure::applyLayout()
{
    cadre1_->resize(cadre1_->width(), ui::twipsToPixels(layout_.frameHeight));
    dessin2_->resize(dessin2_->width(), ui::twipsToPixels(layout_.backgroundHeight));
    const QPixmap tallPicture = loadTallPanelPicture(context_.directory);
    for (int i = 0; i < kPanelCount; ++i) {
        const auto k = static_cast<size_t>(i);
        const PanelGeometry& panel = layout_.panels[k];
        dessin1_[k]->setGeometry(ui::twipsRect(kBezelLeft, panel.bezelTop, kBezelWidth, panel.bezelHeight));
        alarmRings_[k]->setGeometry(dessin1_[k]->geometry().adjusted(-kRingWidth, -kRingWidth, kRingWidth, kRingWidth));
        alarmRings_[k]->lower();
        // Without a readable "instrum1.bmp" the tall panel keeps the plain bezel, stretched.
        if (panel.tall && !tallPicture.isNull())
            dessin1_[k]->setPixmap(tallPicture);
        etiquette3_[k]->setGeometry(ui::twipsRect(kValueLeft, panel.valueTop, kValueWidths[k], panel.valueHeight));
        etiquette3_[k]->raise();
        // The tag label sizes itself to its text and stays right-aligned against the panel.
        etiquette1_[k]->setGeometry(ui::twipsRect(kTagLeft, panel.tagTop, kTagWidth, kTagHeight));
    }
    dessin2_->lower(); // the rings stand over the background picture, under the bezels
}

void F_Mesure::Form_Load()
{
    setWindowTitle(QStringLiteral(" [Measurement]"));
    commande1_->setText(QStringLiteral("CANCEL"));
    for (QLabel* heading : etiquette2_)
        heading->setText(QStringLiteral("Reading"));
    setWindowTitle(context_.programTitle + windowTitle() + source_->titleSuffix());
    layOut();
    source_->open();
}

void F_Mesure::layOut()
{
    std::array<PanelInput, kPanelCount> inputs{};
    for (int i = 0; i < kPanelCount; ++i)
        inputs[static_cast<size_t>(i)] = PanelInput{source_->selected(i), source_->measurementType(i)};
    layout_ = LayoutChannelPanels(inputs);
    applyLayout();
    refreshPanels();
}

void F_Mesure::showNotice(const QString& text)
{
    noticeText_ = text;
    notice_->setToolTip(text);
    placeNotice();
    notice_->setVisible(!text.isEmpty());
}

void F_Mesure::placeNotice()
{
    // As wide as its text, up to the window's right edge (the window is maximised, the frame
    // narrower than most screens); what is still too long ends in "..." and the tooltip has it all.
    const QFontMetrics metrics(notice_->font());
    const int padding = notice_->indent() * 2 + 2 * notice_->frameWidth() + 4;
    const int room = qMax(width() - notice_->x() - 12, ui::twipsToPixels(kFrameWidth));
    const int wanted = qMin(metrics.horizontalAdvance(noticeText_) + padding, room);
    notice_->setText(metrics.elidedText(noticeText_, Qt::ElideRight, wanted - padding));
    notice_->resize(wanted, notice_->height());
}

void F_Mesure::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeNotice();
}

void F_Mesure::Form_Paint()
{
    for (int i = 0; i < kPanelCount; ++i) {
        const auto k = static_cast<size_t>(i);
        const bool selected = source_->selected(i);
        if (selected) {
            const QString caption = forDisplay(source_->channelLabel(i));
            if (etiquette1_[k]->text() != caption) {
                etiquette1_[k]->setText(caption);
                const QSize wanted = etiquette1_[k]->sizeHint();
                const int right = ui::twipsToPixels(kTagLeft + kTagWidth);
                etiquette1_[k]->setGeometry(right - wanted.width(), etiquette1_[k]->y(), wanted.width(),
                                            qMax(wanted.height(), ui::twipsToPixels(kTagHeight)));
            }
        }
        // Only real changes, so that a repaint never asks for another one.
        for (QWidget* control : {static_cast<QWidget*>(etiquette1_[k]), static_cast<QWidget*>(etiquette3_[k]),
                                 static_cast<QWidget*>(dessin1_[k])}) {
            if (control->isVisibleTo(this) != selected)
                control->setVisible(selected);
        }
    }
    paintAlarmRings();
}

void F_Mesure::showAlarm(int channel, PanelAlarm alarm)
{
    if (channel < 0 || channel >= kPanelCount || alarms_[static_cast<size_t>(channel)] == alarm)
        return;
    alarms_[static_cast<size_t>(channel)] = alarm;
    const bool anyBlinking = std::any_of(alarms_.begin(), alarms_.end(), [](const PanelAlarm& a) {
        return a.colour != AlarmColour::None && a.blinking;
    });
    if (anyBlinking && !blink_.isActive()) {
        blinkOn_ = true;
        blink_.start();
    } else if (!anyBlinking) {
        blink_.stop();
        blinkOn_ = true;
    }
    paintAlarmRings();
}

void F_Mesure::paintAlarmRings()
{
    for (int i = 0; i < kPanelCount; ++i) {
        const auto k = static_cast<size_t>(i);
        const PanelAlarm& alarm = alarms_[k];
        QFrame* ring = alarmRings_[k];
        // An input that is not shown has no panel to ring.
        const bool lit = alarm.colour != AlarmColour::None && dessin1_[k]->isVisibleTo(this)
                         && (!alarm.blinking || blinkOn_);
        if (lit) {
            const QColor colour = alarm.colour == AlarmColour::Red ? kRed : kAmber;
            if (ring->palette().color(QPalette::Window) != colour)
                setColours(ring, Qt::black, colour);
        }
        if (ring->isVisibleTo(this) != lit)
            ring->setVisible(lit);
    }
}

void F_Mesure::refreshPanels()
{
    // While the configuration is being loaded or has just been dropped with its window, reading
    // it here would load it anew; the next change, repaint or tick shows it.
    if (source_->configurationKnown())
        Form_Paint();
}

void F_Mesure::paintEvent(QPaintEvent* event)
{
    refreshPanels();
    QWidget::paintEvent(event);
}

void F_Mesure::showEvent(QShowEvent* event)
{
    refreshPanels();
    QWidget::showEvent(event);
    // A port problem found while the window was loading is shown once the window is up (and
    // raised by whoever showed it), so that the box stands over it rather than behind it.
    if (!pendingPortMessage_.isEmpty())
        QTimer::singleShot(0, this, [this] {
            const QString text = std::exchange(pendingPortMessage_, QString());
            if (!text.isEmpty())
                context_.dialogs.notify(text, ui::Icon::Warning, {}, this);
        });
}

void F_Mesure::Minuterie1_Timer()
{
    // Once the user has confirmed the end of the program no cycle starts any more.
    if (ending_)
        return;
    source_->tick();
}

void F_Mesure::reportPortProblem(const QString& text)
{
    // Shown without waiting for OK: a box that waited here, inside the timer's handler, would
    // keep the timer from firing until someone closed it, and an unattended installation would
    // stay stopped. The ticks go on beneath the box and the measurement carries on by itself
    // once the port is back, whether or not the box has been closed yet.
    if (isVisible())
        context_.dialogs.notify(text, ui::Icon::Warning, {}, this);
    else
        pendingPortMessage_ = text;
}

void F_Mesure::showValue(int channel, const QString& text)
{
    const auto k = static_cast<size_t>(channel);
    valueTexts_[k] = text;
    QLabel* label = etiquette3_[k];
    const QString shown = valueLabelText(text);
    // The value keeps its bold 13.5-point face unless a line is wider than the label; then the
    // face shrinks until every line fits, so no digit is ever cut off.
    QFont font = sansFont(13.5, true);
    const int available = label->contentsRect().width() - 4;
    const QStringList lines = shown.split(QLatin1Char('\n'));
    const auto widest = [&](const QFont& f) {
        const QFontMetrics metrics(f);
        int width = 0;
        for (const QString& line : lines)
            width = qMax(width, metrics.horizontalAdvance(line));
        return width;
    };
    while (widest(font) > available && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    if (label->font() != font)
        label->setFont(font);
    label->setText(shown);
    emit valueShown(channel);
}

void F_Mesure::updateToolTip(int channel)
{
    if (channel < 0 || channel >= kPanelCount || source_->counters(channel) == nullptr)
        return;
    const diagnostics::ChannelCounters& counters = *source_->counters(channel);
    const auto timeText = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    QStringList lines;
    if (counters.lastFailure && counters.consecutiveFailures > 0)
        lines << QStringLiteral("Last failure: %1 (%2)").arg(counters.lastFailure->describe(), timeText(counters.lastFailureMs));
    lines << (counters.lastValidMs ? QStringLiteral("Last valid reading: %1").arg(timeText(*counters.lastValidMs))
                                   : QStringLiteral("No valid reading since the counters were reset"));
    const QString tip = lines.join(QLatin1Char('\n'));
    for (QWidget* control : {static_cast<QWidget*>(etiquette3_[static_cast<size_t>(channel)]),
                             static_cast<QWidget*>(dessin1_[static_cast<size_t>(channel)])}) {
        if (control->toolTip() != tip)
            control->setToolTip(tip);
    }
}

void F_Mesure::Commande1_Click()
{
    if (source_->deferStop())
        return; // the running cycle stops after its channel; the next tick comes back here
    source_->stop();
    unloadByProgram_ = true;
    close();
    if (context_.showMainWindow)
        context_.showMainWindow();
}

void F_Mesure::closeEvent(QCloseEvent* event)
{
    if (!unloadByProgram_) {
        // The user closes the window: this ends the whole program once confirmed. The window
        // stays meanwhile, and the question does not wait for its answer here, so the
        // measurement goes on beneath it. A second close while it is open asks nothing more.
        event->ignore();
        if (quitQuestionOpen_)
            return;
        quitQuestionOpen_ = true;
        context_.dialogs.ask(QStringLiteral("Are you sure to quit?"), ui::Icon::Question, ui::Buttons::YesNo,
                             windowTitle(), [window = QPointer<F_Mesure>(this)](ui::Answer answer) {
                                 if (window)
                                     window->quitAnswered(answer);
                             },
                             this);
        return;
    }
    if (!source_->cycleRunning())
        context_.dialogs.beep();
    event->accept();
}

void F_Mesure::quitAnswered(ui::Answer answer)
{
    quitQuestionOpen_ = false;
    if (answer != ui::Answer::Yes)
        return;
    // The answer may come while a cycle waits for a reply (the box is answered from within that
    // wait's event loop). The window is left standing, since that cycle is still on the stack
    // beneath us: no tick starts another cycle or reopens the port, the waiting cycle finds the
    // port closed and ends, and ending the program leaves every event loop.
    ending_ = true;
    source_->stop();
    if (context_.endProgram)
        context_.endProgram();
}

} // namespace measure
