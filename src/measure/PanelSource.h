#pragma once
// What the measurement window shows: the panels' configuration (selection, type, caption), the
// value texts as the visits produce them, and the line's counters behind the tooltips. Either the
// window's own measurement (SessionPanels) or the station service's feed, seen from afar. No
// widgets.

#include <QObject>
#include <QString>

#include <cstdint>

class QTimer;

namespace diagnostics {
struct ChannelCounters;
}

namespace measure {

class PanelSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // False until the configuration can be read without loading it (the window waits for it).
    virtual bool configurationKnown() const = 0;
    virtual bool selected(int channel) const = 0;
    virtual int16_t measurementType(int channel) const = 0;
    // The caption of a channel's tag label (CR LF between its lines).
    virtual QString channelLabel(int channel) const = 0;
    // The counters behind a panel's tooltip; null where there are none.
    virtual const diagnostics::ChannelCounters* counters(int channel) const = 0;
    // What the window's title adds after " [Measurement]".
    virtual QString titleSuffix() const { return {}; }

    // The window has loaded: the measurement opens its port, the viewer connects.
    virtual void open() = 0;
    // The window's one-second timer and its tick.
    virtual QTimer& timer() = 0;
    virtual void tick() = 0;
    // The abandon command: true while it has to wait for the running cycle.
    virtual bool deferStop() = 0;
    // Nothing more is measured or shown; the port (or the connection) is released.
    virtual void stop() = 0;
    // A cycle is under way (the window then beeps not when it goes).
    virtual bool cycleRunning() const { return false; }

signals:
    // A channel's value text, as a visit produced it; an empty text: no value is known now.
    void valueShown(int channel, const QString& text);
    // A channel has been visited (its counters changed).
    void channelVisited(int channel);
    void cycleCompleted(qint64 milliseconds);
    // The tick found the abandon request.
    void stopRequested();
    // A port problem the user must be told in a box that does not wait (the whole text).
    void portProblem(const QString& text);
    // The selection or the captions changed: shown at once.
    void panelsChanged();
    // The configuration behind the layout changed: the panels are laid out anew.
    void layoutChanged();
    // A line shown in the window itself, not in a box; empty: nothing to say.
    void noticeChanged(const QString& text);
};

} // namespace measure
