#pragma once

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QStringList>

// What a link of the list may hold: no control characters and no blanks inside, at most
// MaxLinkChars characters; and the whole list at most MaxListChars characters (each link counted
// with its line end), so that its file always reads back (the reader takes 256 MB; this is a
// quarter of that even at four bytes a character, twice for the cipher's hexadecimal digits).
inline constexpr qsizetype MaxLinkChars = 4096;
inline constexpr qsizetype MaxListChars = qsizetype(16) << 20;

// The link list: the item, shop and category links the user collected, in order. Safe to use
// from any thread (the shop crawlers append to it from theirs); changes are announced by signals
// that a view on the user-interface thread receives queued.
class TLinkList : public QObject {
    Q_OBJECT
  public:
    explicit TLinkList(QObject* parent = nullptr);

    QStringList Items() const;
    int Count() const;
    // Whether `link` is already in the list, compared ignoring letter case.
    bool Contains(const QString& link) const;

    // Why `link` cannot be a link of the list, in the user's words ("含有控制字符", ...); the empty
    // text when it can.
    static QString WhyNotALink(const QString& link);
    // Whether the list has room for `link` as well (see MaxListChars).
    bool HasRoomFor(const QString& link) const;

    // Appends `link`, listed or not, unless it is no link (WhyNotALink) or the list has no room for
    // it; returns whether it did.
    bool Append(const QString& link);
    // Appends `link` unless the list holds it (ignoring letter case), it is no link (WhyNotALink) or
    // the list has no room for it; returns whether it did.
    bool AppendIfMissing(const QString& link);
    bool RemoveAt(int index);
    void Clear();
    void Replace(const QStringList& links);

    // A number that grows with every change of the list (to tell whether it needs saving).
    quint64 Revision() const;

    // The links in a pasted or typed text: the parts between line breaks, spaces and tabs.
    static QStringList SplitLinks(const QString& text);

  signals:
    void appended(int index, const QString& link);
    void removed(int index);
    void reset(const QStringList& links);

  private:
    void indexLocked(const QString& link, int change);

    mutable QMutex m_lock;
    QStringList m_items;
    // How many items each case-folded link has, so that a link is looked up without comparing it
    // with every item (a list of many thousand links is filled one link at a time).
    QHash<QString, int> m_folded;
    quint64 m_revision = 0;
    qsizetype m_chars = 0; // the links' characters, each with its line end
};
