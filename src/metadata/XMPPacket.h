#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace limnoscope {

inline constexpr char xmpNamespaceDC[] = "http://purl.org/dc/elements/1.1/";
inline constexpr char xmpNamespaceTIFF[] = "http://ns.adobe.com/tiff/1.0/";
inline constexpr char xmpNamespaceEXIF[] = "http://ns.adobe.com/exif/1.0/";

// One top-level property of an XMP packet. `value` is set only for a plain string; arrays
// (such as a language alternative), structures and resource references have none.
struct XMPProperty {
    QString namespaceURI;
    QString name;
    std::optional<QString> value;
};

// The top-level properties of an XMP packet in document order (attribute form first for each
// rdf:Description, then its child elements). A damaged packet gives what was read before the
// damage. Pure and thread-safe.
[[nodiscard]] QList<XMPProperty> readXMPProperties(const QByteArray& packet);

} // namespace limnoscope
