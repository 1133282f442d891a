#pragma once
// The application configuration window: one row per input channel (selection, measurement type,
// station address and role, tag). Its controls are views of the live channel configuration:
// every change the user makes goes into the model at once, and the controls follow the model
// (loading the file changes them through it). OK saves, CANCEL goes back to the file, and the
// close box destroys the window with its unsaved edits.

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QValidator;

namespace ui {
class Dialogs;
}

namespace config {

class ChannelConfiguration;

class ConfigW final : public QWidget {
    Q_OBJECT
public:
    // What the window needs from the program around it.
    struct Services {
        ChannelConfiguration& channels;
        ui::Dialogs& dialogs;
        std::function<void()> loadSerialSettings; // reads "PortCom.dat" into the program's settings
        QString& programTitle;                     // set when the window loads
        QByteArray& stopMarker;                    // set when the window loads
        std::function<void()> showMainWindow;      // after OK and CANCEL
    };

    static constexpr int kChannels = 4;
    static constexpr int kLowestAddress = 1;
    static constexpr int kHighestAddress = 14;

    explicit ConfigW(Services services, QWidget* parent = nullptr);

    // The load sequence: captions, shown maximised, type lists, "config.txt", "PortCom.dat",
    // program title, role options shown, stop marker.
    void Form_Load();
    // The menu command on a window that exists already.
    void showAgain();

    // Shows the selection state of channel i: green box, blue label and the row's controls, or
    // white box, grey label and the controls hidden.
    void Coche1_Click(int i);
    // A click on "Input i" toggles the channel's selection.
    void Etiquette1_Click(int i);
    // The focus left the address box of channel i: a value outside 1..14 (text that is not a
    // number counts as 0) beeps, says "False address" and puts the focus back. Returns whether
    // the address was accepted.
    bool AdresseStation_LostFocus(int i);
    // OK: refuses two selected channels with the same address text and the same Master state,
    // otherwise saves, rebuilds the channel titles, hides and shows the main window.
    void Commande1_Click();
    // CANCEL: back to the file's contents, channel titles rebuilt, hidden, main window shown.
    void Commande2_Click();

signals:
    // Closed through the close box: the window is going away with its unsaved edits and the
    // configuration is unloaded, so that the next access creates the window again from the file.
    void discarded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Row {
        QCheckBox* Coche1 = nullptr;
        QLabel* Etiquette1 = nullptr;
        QComboBox* ListeTypeMesure = nullptr;
        QGroupBox* Frame1 = nullptr;
        QLineEdit* AdresseStation = nullptr;
        std::array<QRadioButton*, 2> Option{}; // Option1..Option4 of the channel: Master, Ext.
        std::array<QLabel*, 2> Label{};        // Label1..Label4 of the channel: "Master", "Ext."
        QLineEdit* Texte2 = nullptr;
    };

    void buildRow(int i);
    QLabel* makeLabel(const char* name, QWidget* parent);
    // Puts the model's values of channel i into its controls.
    void showChannel(int i);
    void onCheckBoxClicked(int i);
    void onRoleClicked(int i, int element);
    // Runs an address check that a focus change asked for and that has not run yet.
    bool settlePendingAddressCheck();

    Services services_;
    QWidget* panel_ = nullptr;
    QValidator* validator_ = nullptr; // the address and tag boxes: what "config.txt" can hold
    std::array<Row, kChannels> rows_{};
    std::array<QLabel*, 2> Etiquette5_{};
    QLabel* Etiquette2_ = nullptr;
    QLabel* Etiquette3_ = nullptr;
    QLabel* Etiquette4_ = nullptr;
    QLabel* Etiquette6_ = nullptr;
    QPushButton* Commande1_ = nullptr;
    QPushButton* Commande2_ = nullptr;

    std::optional<int> pendingAddressCheck_;
    bool checkingAddress_ = false;
};

} // namespace config
