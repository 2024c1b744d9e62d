#include "Alert.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>

void MessageBoxAlert::showWarning(const QString& messageText, const QString& informativeText,
                                  const QString& buttonTitle) {
    // No parent: the controller has no window, and the alert must block the
    // whole application rather than one window.
    QMessageBox box(QMessageBox::Warning, QString(), messageText);
    // The detail is a script's own output; escaped, its markup shows as written.
    if (!informativeText.isEmpty())
        box.setInformativeText(Qt::convertFromPlainText(informativeText));
    box.setWindowModality(Qt::ApplicationModal);
    QPushButton* button = box.addButton(buttonTitle, QMessageBox::AcceptRole);
    box.setDefaultButton(button);
    box.setEscapeButton(static_cast<QAbstractButton*>(button));
    box.exec();
}
