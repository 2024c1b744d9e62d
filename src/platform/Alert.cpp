#include "Alert.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>

MessageBoxAlert::~MessageBoxAlert() {
    // Boxes have no parent; left to the application object they would outlive
    // whatever their dismissal calls into.
    for (const QPointer<QMessageBox>& box : std::as_const(open_))
        delete box.data();
}

void MessageBoxAlert::showWarning(const QString& messageText, const QString& informativeText,
                                  const QString& buttonTitle, std::function<void()> dismissed) {
    open_.removeAll(nullptr);
    // No parent: the controller has no window, and the alert must block the
    // whole application rather than one window.
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), messageText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The detail is a script's own output; escaped, its markup shows as written.
    if (!informativeText.isEmpty())
        box->setInformativeText(Qt::convertFromPlainText(informativeText));
    box->setWindowModality(Qt::ApplicationModal);
    QPushButton* button = box->addButton(buttonTitle, QMessageBox::AcceptRole);
    box->setDefaultButton(button);
    box->setEscapeButton(static_cast<QAbstractButton*>(button));
    QObject::connect(box, &QDialog::finished, box, [dismissed = std::move(dismissed)] {
        if (dismissed)
            dismissed();
    });
    open_.append(box);
    // show(), not exec(): a nested loop would hold every caller up the stack
    // until the user comes back to the screen.
    box->show();
}
