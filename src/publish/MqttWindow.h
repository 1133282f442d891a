#pragma once
// The window "MQTT...": the options of publishing the readings to an MQTT broker, as they stand
// in "zentlog.ini". OK checks the entries, stores them and closes; a refused entry or a failed
// save is told and the window stays open with what the user typed. Cancel stores nothing. Below
// the fields, the state of publishing as it is now (connected, connecting, or not and why), kept up
// to date while the window is open.

#include "publish/MqttSettings.h"
#include "publish/PublishStatus.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QWidget;

namespace ui {
class Dialogs;
}

namespace publish {

class MqttWindow final : public QDialog {
    Q_OBJECT
public:
    struct Services {
        ui::Dialogs& dialogs;
        QString directory; // holds "zentlog.ini"; empty: the working directory
        QString programTitle; // goes in front of the window's title
    };

    // Reads the settings from the file into the fields.
    explicit MqttWindow(Services services, QWidget* parent = nullptr);

    // Shows the window in front, sized to its screen when it first opens.
    void Form_Load();

    // Shows how publishing stands now; hidden while the publisher does not run.
    void setPublishStatus(const PublishStatus& status);

    // The settings as the fields show them.
    MqttSettings settings() const;

    void accept() override;

signals:
    // The settings were stored in "zentlog.ini".
    void saved();

private:
    void build();
    void fill(const MqttSettings& settings);
    void updateFields();
    // The height that shows every field and line without scrolling, at the given width.
    int wantedHeight(int width) const;
    // Follows a line that came up or went away below the fields: taller for it, within the screen,
    // and back down by as much once it has gone.
    void followContentHeight();
    // A file the user chose through a file dialog.
    void browse(QLineEdit* field, const QString& caption, const QString& filter);
    // Why the named file cannot be used as the CA file; empty when it can.
    static QString unusableCaFile(const QString& path);
    void refuse(const QString& text, QWidget* field);

    Services services_;
    QCheckBox* enabled_ = nullptr;
    QWidget* fields_ = nullptr;
    QLineEdit* host_ = nullptr;
    QSpinBox* port_ = nullptr;
    QComboBox* tls_ = nullptr;
    QLineEdit* caFile_ = nullptr;
    QLineEdit* username_ = nullptr;
    QLineEdit* passwordFile_ = nullptr;
    QLineEdit* site_ = nullptr;
    QLabel* siteNote_ = nullptr; // shown while the typed site would be rewritten in the topics
    QComboBox* qos_ = nullptr;
    QComboBox* format_ = nullptr;
    QLabel* problem_ = nullptr;
    QLabel* publishStatus_ = nullptr;
    QWidget* content_ = nullptr; // everything above the buttons, in a scroll area
    QWidget* buttons_ = nullptr;
    int grownBy_ = 0; // what the window grew by for the lines shown now
    bool sized_ = false;
};

} // namespace publish
