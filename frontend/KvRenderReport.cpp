#include "frontend/KvRenderReport.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velmora {

namespace {

QString Clock(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return seconds >= 3600 ? QString::asprintf("%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60)
                           : QString::asprintf("%lld:%02lld", seconds / 60, seconds % 60);
}

} // namespace

void PrintText(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

KvRenderReport::KvRenderReport(bool terminal, std::FILE* out)
    : m_terminal(terminal)
    , m_out(out)
{
    const char* codeset = nl_langinfo(CODESET);
    m_times = codeset && std::strcmp(codeset, "UTF-8") == 0 ? QStringLiteral("\u00D7") : QStringLiteral("x");
    m_clock.start();
    if (m_terminal) {
        m_redraw.setInterval(250);
        QObject::connect(&m_redraw, &QTimer::timeout, &m_redraw, [this] {
            if (m_dirty)
                Redraw();
        });
        m_redraw.start();
    }
}

void KvRenderReport::SetRows(const std::vector<KvQueueRow>& rows)
{
    m_rows.clear();
    for (const KvQueueRow& row : rows) {
        const QString source = QString::fromStdWString(row.cells.file);
        m_rows.push_back({QFileInfo(source).fileName(), std::max(KvRenderQueue::RowLength(row.cells), 0.0), source});
    }
}

void KvRenderReport::Header(const QString& text)
{
    if (m_terminal)
        Permanent(text);
}

void KvRenderReport::Started(int index)
{
    m_running[index] = {0.0, 0.0};
    m_dirty = true;
}

void KvRenderReport::Progress(int index, double percent, double speed)
{
    m_running[index] = {percent, speed};
    m_dirty = true;
}

void KvRenderReport::Ended(int index, bool finished, const QString& output, const QString& reason)
{
    m_running.erase(index);
    m_ended += m_rows[size_t(index)].length;
    if (finished && !reason.isEmpty()) {
        // Converted as far as the source goes, which is not as far as it says.
        ++m_short;
        Row(QStringLiteral("Short %1: %2").arg(output, reason));
    } else if (finished) {
        Row(QStringLiteral("Finish %1").arg(output));
    } else {
        Failed(m_rows[size_t(index)].source, reason);
    }
}

void KvRenderReport::Note(const QString& output, const QString& note)
{
    Row(QStringLiteral("Note %1: %2").arg(output, note));
}

void KvRenderReport::MeasuringAlbum(const QList<int>& indexes)
{
    if (indexes.isEmpty())
        return;
    const QString& first = m_rows[size_t(indexes.front())].source;
    Row(indexes.size() == 1 ? QStringLiteral("Measure album: %1").arg(first)
                            : QStringLiteral("Measure album: %1 and %2 more").arg(first).arg(indexes.size() - 1));
}

void KvRenderReport::Skipped(int index, const QString& output)
{
    ++m_skipped;
    m_ended += m_rows[size_t(index)].length;
    Row(QStringLiteral("Skip %1").arg(output));
}

void KvRenderReport::Failed(const QString& source, const QString& reason)
{
    ++m_failed;
    Row(QStringLiteral("Failed %1: %2").arg(source, reason));
}

void KvRenderReport::Close(const QString& last)
{
    m_redraw.stop();
    if (m_terminal) {
        Erase();
        if (!last.isEmpty())
            PrintText(m_out, Fit(last) + u'\n');
    } else if (!last.isEmpty()) {
        PrintText(stderr, QStringLiteral("velmora: %1\n").arg(last));
    }
}

QString KvRenderReport::Total() const
{
    double all = 0.0;
    double done = m_ended;
    for (const RowInfo& row : m_rows)
        all += row.length;
    for (const auto& [index, progress] : m_running)
        done += m_rows[size_t(index)].length * progress.percent / 100.0;
    QString text = QStringLiteral("Total %1%  %2 of %3 finished")
                       .arg(all > 0.0 ? done * 100.0 / all : 0.0, 5, 'f', 1)
                       .arg(m_finished)
                       .arg(m_rows.size());
    if (m_skipped > 0)
        text += QStringLiteral(", %1 skipped").arg(m_skipped);
    if (m_failed > 0)
        text += QStringLiteral(", %1 failed").arg(m_failed);
    return text + QStringLiteral("  %1").arg(Clock(m_clock.elapsed()));
}

void KvRenderReport::Row(const QString& line)
{
    if (m_terminal)
        Permanent(line);
    else
        PrintText(m_out, line + u'\n');
}

void KvRenderReport::Permanent(const QString& line)
{
    Erase();
    PrintText(m_out, line + u'\n');
    m_dirty = true;
}

void KvRenderReport::Erase()
{
    // Up to the first live line, and everything below it goes.
    if (m_live > 0)
        PrintText(m_out, QStringLiteral("\x1b[%1F\x1b[J").arg(m_live));
    m_live = 0;
}

void KvRenderReport::Redraw()
{
    Erase();
    QString block;
    for (const auto& [index, progress] : m_running) {
        const QString speed = progress.speed > 0.0 ? QString::asprintf("%5.1f", progress.speed) + m_times
                                                   : QStringLiteral("   --");
        block += Fit(QString::asprintf("%6.1f%%  ", progress.percent) + speed + QStringLiteral("  ")
                     + m_rows[size_t(index)].name)
            + u'\n';
        ++m_live;
    }
    block += Fit(Total()) + u'\n';
    ++m_live;
    PrintText(m_out, block);
    m_dirty = false;
}

QString KvRenderReport::Fit(const QString& line) const
{
    winsize size {};
    const int columns = ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    return line.size() < columns ? line : line.left(std::max(1, columns - 2)) + u'~';
}

} // namespace velmora
