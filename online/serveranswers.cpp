#include "serveranswers.h"

#include <QJsonDocument>
#include <QVariant>

namespace serveranswers {

std::optional<Product> product(const QByteArray& response) {
    const QJsonObject answer = QJsonDocument::fromJson(response).object();
    if (answer.value(QStringLiteral("code")).toInt(-1) != 0 ||
        !answer.value(QStringLiteral("ret")).isObject())
        return std::nullopt;
    const QJsonObject ret = answer.value(QStringLiteral("ret")).toObject();
    return Product{ret.value(QStringLiteral("productType")).toVariant().toString(),
                   ret.value(QStringLiteral("productName")).toVariant().toString(),
                   ret.value(QStringLiteral("productNO")).toVariant().toString(),
                   ret.value(QStringLiteral("clientDevice")).toString()};
}

QList<QPair<QString, QString>> productRecord(const Product& product) {
    // The product type "1" is the professional edition.
    const QString description =
        product.type == QLatin1String("1") ? QStringLiteral("专业版") : QString();
    return {{QStringLiteral("name"), QStringLiteral("产品信息")},
            {QStringLiteral("productType"), product.type},
            {QStringLiteral("productName"), product.name},
            {QStringLiteral("productCN"), product.number},
            {QStringLiteral("description"), description},
            {QStringLiteral("device"), product.number},
            {QStringLiteral("GHotKey"), QString()}};
}

std::optional<Update> update(const QByteArray& response) {
    const QJsonDocument doc = QJsonDocument::fromJson(response);
    const QJsonObject answer = doc.object();
    if (!doc.isObject() || !answer.contains(QStringLiteral("code")))
        return std::nullopt;
    Update u;
    u.code = answer.value(QStringLiteral("code")).toInt(-1);
    u.hasRet = answer.value(QStringLiteral("ret")).isObject();
    u.ret = answer.value(QStringLiteral("ret")).toObject();
    u.type = u.ret.value(QStringLiteral("type")).toVariant().toString();
    u.deployment = u.ret.value(QStringLiteral("deployment"))
                       .toString()
                       .split(QLatin1Char(','), Qt::SkipEmptyParts);
    return u;
}

Sync sync(const QByteArray& response) {
    const QJsonObject answer = QJsonDocument::fromJson(response).object();
    Sync s;
    s.code = answer.value(QStringLiteral("code")).toInt(-1);
    const QJsonObject ret = answer.value(QStringLiteral("ret")).toObject();
    s.revision = ret.value(QStringLiteral("revision"));
    s.file = ret.value(QStringLiteral("file")).toString();
    return s;
}

} // namespace serveranswers
