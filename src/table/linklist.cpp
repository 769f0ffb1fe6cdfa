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

bool TLinkList::Contains(const QString& link) const {
    QMutexLocker lock(&m_lock);
    return m_items.contains(link, Qt::CaseInsensitive);
}

void TLinkList::Append(const QString& link) {
    QMutexLocker lock(&m_lock);
    m_items.append(link);
    ++m_revision;
    emit appended(int(m_items.size()) - 1, link);
}

bool TLinkList::AppendIfMissing(const QString& link) {
    QMutexLocker lock(&m_lock);
    if (m_items.contains(link, Qt::CaseInsensitive))
        return false;
    m_items.append(link);
    ++m_revision;
    emit appended(int(m_items.size()) - 1, link);
    return true;
}

bool TLinkList::RemoveAt(int index) {
    QMutexLocker lock(&m_lock);
    if (index < 0 || index >= m_items.size())
        return false;
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
    ++m_revision;
    emit reset(m_items);
}

quint64 TLinkList::Revision() const {
    QMutexLocker lock(&m_lock);
    return m_revision;
}
