#pragma once

// Small item pages and replies in the layout of the marketplace's 2014 item pages, for tests.

#include <QString>
#include <QStringList>

// An item page in the 2014 layout: title, category area between the detail header and the
// notice, price, description script and attribute list.
inline QString itemPage(const QString& id, const QString& title, const QStringList& attributes,
                        const QString& price = "128.00") {
    QString page =
        "<!DOCTYPE html><html><head><meta charset=\"gbk\" /><title>" + title +
        "-淘宝网</title></head><body>\n"
        "<div class=\"tb-detail-hd\"><h3 title=\"男装\">男装</h3><a title=\"夹克 外套\">夹克</a></div>\n"
        "<div class=\"tb-notice\" title=\"not in the area\"></div>\n"
        "<li><em class=\"tb-rmb\">&yen;</em><em class=\"tb-rmb-num\"> " +
        price +
        " </em></li>\n"
        "<script>g_config.dynamicScript(\"http://dsc.taobaocdn.com/i1/" +
        id + "/desc.js\");</script>\n<ul class=\"attributes-list\">";
    for (const QString& a : attributes)
        page += "<li title=\"x\">" + a + "</li>";
    return page + "</ul><div>other</div></ul></body></html>";
}

inline QString postageReply(const QString& location) {
    return "$callback({\"location\":\"" + location +
           "\",\"destination\":\"北京\",\"carriage\":\"<SPAN>快递&nbsp;10.00</"
           "span>\",\"estimation\":\"3天\"});";
}

// The description script the item page of `id` names, on the host it names.
inline const QString DescriptionHost = QStringLiteral("dsc.taobaocdn.com");
inline QString descriptionPath(const QString& id) {
    return "/i1/" + id + "/desc.js";
}
inline QString descriptionReply(const QString& html) {
    return "var desc='" + html + "';\n";
}
