#include "errorreporter.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <memory>

ErrorReporter::ErrorReporter(bool headless, QObject *parent) : QObject(parent), m_headless(headless)
{
}

ErrorReporter::~ErrorReporter()
{
    delete m_box.data();
}

void ErrorReporter::report(const QString &text)
{
    // One line per message, so a rig's log stays one record per failure.
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_stderr.write("vorlak: error: " + line.toLocal8Bit());

    m_entries.push_back({QDateTime::currentDateTimeUtc(), text});
    if (m_entries.size() > kMaxEntries)
        m_entries.pop_front();
    ++m_count;
    emit reported(text);

    if (!m_headless && !m_box)
        showBox(text);
}

void ErrorReporter::clear()
{
    m_entries.clear();
    m_count = 0;
}

void ErrorReporter::showBox(const QString &text)
{
    const QString title = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    auto *box = new QMessageBox(QMessageBox::Critical, title, text, QMessageBox::Ok,
                                QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Modal for the operator, but open() returns at once: exec() would hold every handler
    // below it on the stack (a running job, a reset sequence) until someone pressed OK.
    box->setWindowModality(Qt::ApplicationModal);
    connect(box, &QMessageBox::finished, this, [this] {
        m_box = nullptr;
        emit boxClosed();
    });
    m_box = box;
    box->open();
}

QString ErrorReporter::openBoxText() const
{
    return m_box ? m_box->text() : QString();
}

bool ErrorReporter::dismissBox()
{
    if (!m_box)
        return false;
    m_box->done(QMessageBox::Ok);
    return true;
}

void ErrorReporter::whenNoBoxOpen(std::function<void()> then)
{
    if (!m_box) {
        then();
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &ErrorReporter::boxClosed, this, [connection, then] {
        QObject::disconnect(*connection);
        then();
    });
}
