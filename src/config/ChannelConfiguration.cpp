#include "config/ChannelConfiguration.h"

#include "common/TextFiles.h"
#include "ui/Dialogs.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace config {

namespace {
QString withoutQuotes(QString text)
{
    text.remove(QLatin1Char('"'));
    return text;
}

// Reads "config.txt" into `channels` (when given; the empty configuration when it is malformed).
common::SettingsLoad readConfigFile(const QString& path, Channels* channels)
{
    return common::loadSettingsFile(path, kConfigFileMaxBytes, QStringLiteral("it holds binary data, not text"),
                                    [channels](QByteArrayView bytes) {
                                        ConfigParse parsed = parseConfig(bytes);
                                        if (channels)
                                            *channels = parsed.channels;
                                        return common::ParsedSettings{parsed.malformed, std::move(parsed.problems)};
                                    });
}
} // namespace

ChannelConfiguration::ChannelConfiguration(ui::Dialogs& dialogs, QString directory, QObject* parent)
    : QObject(parent)
    , dialogs_(dialogs)
    , directory_(std::move(directory))
{
}

QString ChannelConfiguration::filePath() const
{
    return directory_.isEmpty() ? QString::fromLatin1(kConfigFileName)
                                : QDir(directory_).filePath(QString::fromLatin1(kConfigFileName));
}

void ChannelConfiguration::ensureLoaded()
{
    if (loaded_ || loading_)
        return;
    loading_ = true;
    if (firstAccess_)
        firstAccess_();
    if (!loaded_)
        LoadChannelConfig();
    loading_ = false;
}

void ChannelConfiguration::unload()
{
    loaded_ = false;
    assign(Channels{});
}

int16_t ChannelConfiguration::selected(int i)
{
    ensureLoaded();
    return valid(i) ? at(i).selected : int16_t{0};
}

int16_t ChannelConfiguration::measurementType(int i)
{
    ensureLoaded();
    return valid(i) ? at(i).measurementType : int16_t{TypeNone};
}

QString ChannelConfiguration::stationAddress(int i)
{
    ensureLoaded();
    return valid(i) ? at(i).stationAddress : QString();
}

QString ChannelConfiguration::tag(int i)
{
    ensureLoaded();
    return valid(i) ? at(i).tag : QString();
}

std::optional<bool> ChannelConfiguration::IsChannelMaster(int channel)
{
    ensureLoaded();
    if (!valid(channel))
        return std::nullopt;
    return at(channel).master;
}

bool ChannelConfiguration::isExt(int i)
{
    ensureLoaded();
    return valid(i) && at(i).ext;
}

ChannelConfig ChannelConfiguration::channel(int i)
{
    ensureLoaded();
    return valid(i) ? at(i) : ChannelConfig{};
}

void ChannelConfiguration::setSelected(int i, int16_t value)
{
    if (!valid(i) || at(i).selected == value)
        return;
    at(i).selected = value;
    emit selectionChanged(i);
    emit channelChanged(i);
}

void ChannelConfiguration::setMeasurementType(int i, int16_t type)
{
    if (!valid(i) || at(i).measurementType == type)
        return;
    at(i).measurementType = type;
    emit channelChanged(i);
}

void ChannelConfiguration::setStationAddress(int i, const QString& text)
{
    if (!valid(i))
        return;
    const QString clean = withoutQuotes(text);
    if (at(i).stationAddress == clean)
        return;
    at(i).stationAddress = clean;
    emit channelChanged(i);
}

void ChannelConfiguration::setTag(int i, const QString& text)
{
    if (!valid(i))
        return;
    const QString clean = withoutQuotes(text);
    if (at(i).tag == clean)
        return;
    at(i).tag = clean;
    emit channelChanged(i);
}

void ChannelConfiguration::setRoleOption(int i, int element, bool value)
{
    if (!valid(i) || (element != 0 && element != 1))
        return;
    ChannelConfig& channel = at(i);
    const ChannelConfig before = channel;
    bool& chosen = element == 0 ? channel.master : channel.ext;
    bool& other = element == 0 ? channel.ext : channel.master;
    chosen = value;
    if (value)
        other = false;
    if (!(before == channel))
        emit channelChanged(i);
}

void ChannelConfiguration::assign(const Channels& channels)
{
    for (int i = 0; i < kChannelCount; ++i) {
        const ChannelConfig& next = channels[static_cast<size_t>(i)];
        setSelected(i, next.selected);
        setMeasurementType(i, next.measurementType);
        setStationAddress(i, next.stationAddress);
        setTag(i, next.tag);
        setRoleOption(i, 0, next.master);
        setRoleOption(i, 1, next.ext);
    }
}

void ChannelConfiguration::assignLoaded(const Channels& channels)
{
    // A reader woken by the changes below sees the configuration being loaded; it must not
    // start a second load of its own.
    const bool wasLoading = std::exchange(loading_, true);
    assign(channels);
    loaded_ = true;
    loading_ = wasLoading;
}

bool ChannelConfiguration::LoadChannelConfig()
{
    Channels channels{};
    const common::SettingsLoad load = readConfigFile(filePath(), &channels);
    assignLoaded(channels);
    if (load.problems.isEmpty())
        return true;
    const QString outcome = load.malformed
        ? QStringLiteral("The program goes on with an empty configuration")
        : QStringLiteral("The program goes on with the replaced values");
    dialogs_.message(QStringLiteral("The channel configuration file \"%1\" cannot be used as it stands: %2.\n\n"
                                    "%3; the file is left unchanged until you press OK in the "
                                    "configuration window.")
                         .arg(QString::fromLatin1(kConfigFileName), load.problems.join(QStringLiteral("; ")),
                              outcome),
                     ui::Icon::Warning);
    return false;
}

common::SettingsReload ChannelConfiguration::reloadChannelConfig()
{
    Channels channels{};
    const common::SettingsLoad load = readConfigFile(filePath(), &channels);
    common::SettingsReload reload;
    reload.problem = load.problems.join(QStringLiteral("; "));
    reload.applied = !load.malformed;
    // Nothing loaded before: the empty configuration stands in, as at any load of a bad file.
    if (reload.applied || !loaded_)
        assignLoaded(channels);
    return reload;
}

bool ChannelConfiguration::SaveChannelConfig()
{
    // A file that cannot be read (the one the load replaced by an empty configuration) is kept
    // beside the new one rather than lost.
    const bool keep = readConfigFile(filePath(), nullptr).keepOnSave();
    const common::SettingsSave save = common::saveSettingsFile(filePath(), serializeConfig(channels_), keep);
    if (!save.error.isEmpty()) {
        dialogs_.message(QStringLiteral("The channel configuration could not be saved to \"%1\": %2.\n\n"
                                        "The previous file, if any, is unchanged.")
                             .arg(QString::fromLatin1(kConfigFileName), save.error),
                         ui::Icon::Critical);
        return false;
    }
    if (!save.keptCopy.isEmpty()) {
        dialogs_.message(QStringLiteral("The channel configuration has been saved to \"%1\".\n\n"
                                        "The previous file could not be read; it has been kept as \"%2\".")
                             .arg(QString::fromLatin1(kConfigFileName), QFileInfo(save.keptCopy).fileName()),
                         ui::Icon::Information);
    }
    return true;
}

void ChannelConfiguration::BuildChannelLabels()
{
    ensureLoaded();
    bool changed = false;
    for (int i = 0; i < kChannelCount; ++i) {
        QString label = at(i).tag;
        if (at(i).measurementType == TypeFlow)
            label += QStringLiteral("\r\nDaily totalization\r\nTotalization");
        QString& current = channelLabels_[static_cast<size_t>(i)];
        if (current != label) {
            current = std::move(label);
            changed = true;
        }
    }
    if (changed)
        emit labelsChanged();
}

} // namespace config
