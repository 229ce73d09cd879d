#pragma once

// The JSON answers of the vendor server to the online commands, read apart from the requests so
// that what a hostile server can send is read in one place.

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace serveranswers {

// getInfo: the product a device belongs to; nothing unless "code" is 0 and "ret" an object.
struct Product {
    QString type;
    QString name;
    QString number; // names the page folder; not yet checked
    QString pagesUrl;
};
std::optional<Product> product(const QByteArray& response);
// What conf.xml records of a product, in the order the attributes stand: "name" (the fixed
// "产品信息"), "productType", "productName", "productCN" and "device" (both the number),
// "description" (an edition label for type "1"), "GHotKey" (empty).
QList<QPair<QString, QString>> productRecord(const Product& product);

// The update check; nothing unless the answer is an object with a "code".
struct Update {
    int code = -1;
    bool hasRet = false; // "ret" is an object
    QJsonObject ret;
    QString type;
    QStringList deployment;
};
std::optional<Update> update(const QByteArray& response);

// Every sync answer: "code" (-1 when missing), and of "ret" the revision (undefined when "ret"
// is no object or has none) and the package address.
struct Sync {
    int code = -1;
    QJsonValue revision = QJsonValue(QJsonValue::Undefined);
    QString file;
};
Sync sync(const QByteArray& response);

} // namespace serveranswers
