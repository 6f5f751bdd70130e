// Closes every modal message box that opens while it lives and remembers what
// the boxes said.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

class ModalCatcher {
public:
    ModalCatcher() {
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Captions << box->windowTitle();
                Texts << box->text();
                Icons << box->icon();
                box->done(QMessageBox::Ok);
            }
        });
        Timer.start(10);
    }
    QStringList Captions;
    QStringList Texts;
    QList<QMessageBox::Icon> Icons;

private:
    QTimer Timer;
};
