#pragma once

#include <QString>

// The edits the online services make to the configuration text (conf.xml).
namespace confxml {

struct ProductInfo {
    QString productType;
    QString productName;
    QString productNO;
};

// The "device" value of the recorded product information of `deviceId`. `recorded` tells
// whether a "productInfo" element exists for it at all.
QString recordedProductFolder(const QString& confText, const QString& deviceId, bool* recorded);

// The text with the device's "productInfo" recorded (created when missing, attributes in their
// fixed order). A null text when `confText` does not parse or has no "root".
QString withProductInfo(const QString& confText, const QString& deviceId, const ProductInfo& info);

// The text with the attribute `name` of "/root/client" set to `value`. Only an attribute that
// exists is changed; a null text when the text does not parse, has no "/root/client" or no such
// attribute.
QString withClientAttribute(const QString& confText, const QString& name, const QString& value);

} // namespace confxml
