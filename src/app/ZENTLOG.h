#pragma once
// The main window: the menu bar from which every other window is reached, and the logo.

#include <QMainWindow>

class QAction;
class QLabel;
class QMenu;

namespace app {

class Application;

class ZENTLOG final : public QMainWindow {
    Q_OBJECT
public:
    explicit ZENTLOG(Application& application, QWidget* parent = nullptr);

    // Start-up: show, centre the logo, set the title, maximise, set the menu captions.
    void Form_Load();

    void Quitter_Click();
    void LS_Click();
    void ConfApp_Click();
    void Mqtt_Click();
    void Mesure_Click();
    void RAZfich_Click();
    void Extract_Click();
    void Export_Click();
    void Diagnostics_Click();
    void Trends_Click();
    void AlarmSettings_Click();
    void Alarms_Click();

    QLabel* Picture1() const { return picture1_; }

    // The logo's size and the window's size before it is maximised, in twips.
    static constexpr int kLogoWidthTwips = 6300;
    static constexpr int kLogoHeightTwips = 2400;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addCommand(QMenu* menu, const char* name, void (ZENTLOG::*handler)());

    Application& app_;
    QLabel* picture1_ = nullptr;
    QMenu* fichier_ = nullptr;
    QMenu* config_ = nullptr;
    QMenu* logger_ = nullptr;
    QMenu* history_ = nullptr;
    QAction* mesure_ = nullptr;
    QAction* diagnostics_ = nullptr;
    QAction* alarms_ = nullptr;
};

// Where the logo goes: the window's outer size less the picture's, halved, in twips.
struct LogoPosition {
    int left;
    int top;
};
constexpr LogoPosition centreLogo(int windowWidth, int windowHeight, int pictureWidth, int pictureHeight)
{
    return {(windowWidth - pictureWidth) / 2, (windowHeight - pictureHeight) / 2};
}

} // namespace app
