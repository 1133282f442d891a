#pragma once
// The live configuration of the four input channels. The configuration window edits it at
// once on every change, and every reader sees the edits before they are saved. The first
// read anywhere runs the first-access hook (the program creates and shows the configuration
// window there, which loads "config.txt"); without a hook the first read loads the file itself.

#include "common/TextFiles.h"
#include "config/ConfigFile.h"

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>

namespace ui {
class Dialogs;
}

namespace config {

class ChannelConfiguration : public QObject {
    Q_OBJECT
public:
    // `directory` holds "config.txt"; empty means the working directory.
    explicit ChannelConfiguration(ui::Dialogs& dialogs, QString directory = {}, QObject* parent = nullptr);

    void setFirstAccessHook(std::function<void()> hook) { firstAccess_ = std::move(hook); }

    // --- Readers: each loads what is missing first ---
    int16_t selected(int i);
    int16_t measurementType(int i);
    QString stationAddress(int i);
    QString tag(int i);
    // Master state of channels 0..3; an empty value for any other channel (callers take it as False).
    std::optional<bool> IsChannelMaster(int channel);
    bool isExt(int i);
    ChannelConfig channel(int i);

    bool isLoaded() const { return loaded_; }
    void ensureLoaded();
    // The window holding the live configuration was destroyed with its unsaved edits.
    void unload();

    // --- Edits (the configuration window, at once on every change) ---
    void setSelected(int i, int16_t value);
    void setMeasurementType(int i, int16_t type);
    void setStationAddress(int i, const QString& text); // double quotes are dropped
    void setTag(int i, const QString& text);            // double quotes are dropped
    // Element 0 is Master, element 1 Ext.; choosing one clears the other, clearing one changes
    // nothing else.
    void setRoleOption(int i, int element, bool value);

    // --- File and labels ---
    // Reads "config.txt" into the model. A missing or malformed file is reported once and gives the
    // empty configuration; values out of range are reported and replaced by the empty value. The
    // file itself is never touched here. Returns false when the file could not be used as it stands.
    bool LoadChannelConfig();
    // Reads "config.txt" again while measuring (nothing is shown): the configuration changes only
    // when the file can be read; a missing or malformed file leaves it as it was (the empty
    // configuration when none was loaded yet).
    common::SettingsReload reloadChannelConfig();
    // Writes the model atomically; a failure is reported and returns false. A "config.txt" that
    // cannot be read is first kept as "config.txt.bad", and the user is told so.
    bool SaveChannelConfig();
    void BuildChannelLabels();
    const std::array<QString, kChannelCount>& channelLabels() const { return channelLabels_; }

    QString filePath() const;

signals:
    // Any field of channel i changed.
    void channelChanged(int i);
    // The check box value of channel i changed (also while loading).
    void selectionChanged(int i);
    // BuildChannelLabels made a label different from what it was.
    void labelsChanged();

private:
    bool valid(int i) const { return i >= 0 && i < kChannelCount; }
    ChannelConfig& at(int i) { return channels_[static_cast<size_t>(i)]; }
    void assign(const Channels& channels);
    // The channels of a file just read, as the configuration in force.
    void assignLoaded(const Channels& channels);

    ui::Dialogs& dialogs_;
    QString directory_;
    std::function<void()> firstAccess_;
    Channels channels_{};
    std::array<QString, kChannelCount> channelLabels_{};
    bool loaded_ = false;
    bool loading_ = false;
};

} // namespace config
