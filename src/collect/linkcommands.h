#pragma once

#include <QString>

#include <functional>

class TAppCore;

// The commands of the link-collection area: add, remove, clear, the link-kind and data-source
// changes, and the start of a search with its choice of workers. They run on the user-interface
// thread.
namespace TLinkCommands {

inline constexpr int SourceTaobao = 0;
inline constexpr int Source1688 = 1;
inline constexpr int SourcePaipai = 2;
inline constexpr int KindItem = 0;
inline constexpr int KindShop = 1;
inline constexpr int KindCategory = 2;

enum class TAddResult { Added, Duplicate, CrawlStarted, Nothing };

// The message shown when the link is already listed.
QString DuplicateMessage();

// Trims the address box; an item link is appended unless listed (ignoring case), a shop or
// category link starts the shop crawler of the data source.
TAddResult Add(TAppCore& core);
bool Remove(TAppCore& core, int index);
void Clear(TAppCore& core);

// The address template a link kind puts into the address box for a data source.
QString AddressTemplate(int source, int kind);
void ChangeLinkKind(TAppCore& core, int kind);
// Empties the link list and resets the item table; nothing when the source stays the same.
void ChangeDataSource(TAppCore& core, int source);

// Starts the item workers of the data source for the whole list. For "拍拍" it returns only when
// every per-link worker has ended, processing events meanwhile; for the others it returns at once
// and the single worker ends the search itself. `closeEditor` closes the item editor if it is open.
void StartSearch(TAppCore& core, const std::function<void()>& closeEditor = {});

} // namespace TLinkCommands
