#include "errorbox.h"

#include <QCoreApplication>
#include <QMessageBox>

ErrorBox::ErrorBox(QWidget *parent)
    : m_parent(parent)
{ }

// The box says no more than "error": which request failed is not the user's to know.
void ErrorBox::requestFailed(const RequestFailure &)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                    QStringLiteral("error"), QMessageBox::Ok, m_parent);
    box.exec();
}
