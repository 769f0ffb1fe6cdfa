#include "table/linklist.h"

#include <QMutexLocker>
#include <QRegularExpression>

TLinkList::TLinkList(QObject* parent) : QObject(parent) {}

QStringList TLinkList::SplitLinks(const QString& text) {
    // Any white space separates: line breaks (CR, LF), spaces, tabs, and the ideographic space
    // that a Chinese input method types.
    static const QRegularExpression separators(QStringLiteral("[\\s\\x{3000}]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

QStringList TLinkList::Items() const {
    QMutexLocker lock(&m_lock);
    return m_items;
}

int TLinkList::Count() const {
    QMutexLocker lock(&m_lock);
    return int(m_items.size());
}

// Case folding gives equal keys exactly to the links that compare equal ignoring case.
void TLinkList::indexLocked(const QString& link, int change) {
    m_chars += change * (link.size() + 2);
    const QString key = link.toCaseFolded();
    const int count = m_folded.value(key) + change;
    if (count > 0)
        m_folded.insert(key, count);
    else
        m_folded.remove(key);
}

bool TLinkList::Contains(const QString& link) const {
    QMutexLocker lock(&m_lock);
    return m_folded.contains(link.toCaseFolded());
}

QString TLinkList::WhyNotALink(const QString& link) {
    if (link.isEmpty())
        return QStringLiteral("是空的");
    if (link.size() > MaxLinkChars)
        return QStringLiteral("超过 %1 个字符").arg(MaxLinkChars);
    for (const QChar c : link) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            return QStringLiteral("含有控制字符");
        if (c.isSpace() || u == 0x3000)
            return QStringLiteral("含有空白");
    }
    return {};
}

bool TLinkList::HasRoomFor(const QString& link) const {
    QMutexLocker lock(&m_lock);
    return m_chars + link.size() + 2 <= MaxListChars;
}

bool TLinkList::Append(const QString& link) {
    if (!WhyNotALink(link).isEmpty())
        return false;
    QMutexLocker lock(&m_lock);
    if (m_chars + link.size() + 2 > MaxListChars)
        return false;
    m_items.append(link);
    indexLocked(link, 1);
    ++m_revision;
    emit appended(int(m_items.size()) - 1, link);
    return true;
}

bool TLinkList::AppendIfMissing(const QString& link) {
    if (!WhyNotALink(link).isEmpty())
        return false;
    QMutexLocker lock(&m_lock);
    if (m_folded.contains(link.toCaseFolded()) || m_chars + link.size() + 2 > MaxListChars)
        return false;
    m_items.append(link);
    indexLocked(link, 1);
    ++m_revision;
    emit appended(int(m_items.size()) - 1, link);
    return true;
}

bool TLinkList::RemoveAt(int index) {
    QMutexLocker lock(&m_lock);
    if (index < 0 || index >= m_items.size())
        return false;
    indexLocked(m_items.at(index), -1);
    m_items.removeAt(index);
    ++m_revision;
    emit removed(index);
    return true;
}

void TLinkList::Clear() {
    Replace({});
}

void TLinkList::Replace(const QStringList& links) {
    QMutexLocker lock(&m_lock);
    m_items = links;
    m_folded.clear();
    m_chars = 0;
    for (const QString& link : m_items)
        indexLocked(link, 1);
    ++m_revision;
    emit reset(m_items);
}

quint64 TLinkList::Revision() const {
    QMutexLocker lock(&m_lock);
    return m_revision;
}
