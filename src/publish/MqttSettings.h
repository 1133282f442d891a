#pragma once
// The options of "zentlog.ini" (INI format, in the working directory) that concern publishing
// the readings to an MQTT broker:
//   [mqtt]
//   enabled=false
//   host=localhost
//   port=1883            (8883 when TLS is on and no port is given)
//   tls=                 on when a CA file is given, unless set to false
//   ca_file=             the CA certificate(s) that sign the broker's certificate (PEM)
//   username=
//   password_file=       a file that holds the password on its first line, readable by its owner only
//   site=                the topic prefix; empty: this computer's host name
//   qos=1                0, 1 or 2
//   format=json          json or sparkplug
// A missing file or key means the default; reading never creates the file.

#include <QByteArray>
#include <QString>

#include <optional>

namespace common {
class IniFile;
}

namespace publish {

inline constexpr char kSettingsFileName[] = "zentlog.ini";

enum class Format { Json, Sparkplug };

struct MqttSettings {
    bool enabled = false;
    QString host = QStringLiteral("localhost");
    int port = 0; // 0: the default port of the transport
    std::optional<bool> tls; // unset: on when a CA file is given
    QString caFile;
    QString username;
    QString passwordFile;
    QString site; // empty: the host name
    int qos = 1;
    Format format = Format::Json;
    // What was wrong in the file (a port that is no number, an unknown format); empty when fine.
    // The defaults stand in for anything unusable.
    QString problem;

    // Reads "zentlog.ini" from `directory` (empty: the working directory).
    static MqttSettings load(const QString& directory = {});
    // Takes [mqtt] from a file already read; a damaged file gives the defaults, its damage in
    // `problem`.
    static MqttSettings load(const common::IniFile& file);
    // Writes the [mqtt] section of "zentlog.ini", every other section and key kept, through an
    // atomic save: the old file stays whole when the save fails. A link at the name is never
    // followed. Returns an empty string on success, otherwise the reason.
    QString save(const QString& directory = {}) const;

    bool useTls() const { return tls.value_or(!caFile.isEmpty()); }
    int effectivePort() const { return port > 0 ? port : (useTls() ? 8883 : 1883); }
    // The site as it stands in the topics: the setting or the host name, with the characters
    // MQTT topics and Sparkplug names cannot hold ('/', '+', '#', control characters) as "_";
    // never empty.
    QString effectiveSite() const;
    // When effectiveSite() is not the site as typed: a sentence that says what is used instead and
    // that another site may share those topics. Empty otherwise.
    QString siteRewriteNote() const;
    // "host:port" for messages and for telling brokers apart.
    QString destination() const;
};

// The password of a password file: its first line without the line end.
struct PasswordFile {
    QByteArray password;
    QString problem; // the file cannot be read: the reason, naming the file
    QString warning; // the group or others can read the file: a sentence naming the file
};
PasswordFile readPasswordFile(const QString& path);

} // namespace publish
