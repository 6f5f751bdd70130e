// Program start: check the screen, create the main window, run the message loop.
#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include <exception>

#include "app/ScreenCheck.h"
#include "app/TMainForm.h"

namespace {

void ShowException(const QString& message) {
    QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), message);
}

} // namespace

int main(int argc, char** argv) {
    // Forms are laid out in pixels; nothing may rescale them.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    // The program takes no command line, the toolkit's own options included,
    // and does not name itself after its file: the toolkit would show that
    // name in place of an empty caption.
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    char noName[] = "";
    // The X resource name: with it the window gets its WM_CLASS, which a dock
    // matches against the desktop entry.
    char nameOption[] = "-name";
    char resourceName[] = "KM808_Viza";
    char* arguments[] = {noName, nameOption, resourceName, nullptr};
    int count = 3;
    QApplication app(count, arguments);
    QApplication::setApplicationName("KM808_Viza");
    QGuiApplication::setDesktopFileName(KM808_APP_ID);

    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !ScreenIsLargeEnough(screen->size())) {
        QMessageBox box(QMessageBox::NoIcon, "Ошибка!!!", "Разрешение монитора должно быть не ниже 1280x768!",
                        QMessageBox::Ok);
        box.exec();
        return 0;
    }
    try {
        TMainForm form;
        form.show();
        app.exec();
    } catch (const std::exception& e) {
        ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowException(QString());
    }
    return 0;
}
