#include "XMPPacket.h"

#include <QXmlStreamReader>

namespace limnoscope {
namespace {

const QString rdfNamespace = QStringLiteral("http://www.w3.org/1999/02/22-rdf-syntax-ns#");
const QString xmlNamespace = QStringLiteral("http://www.w3.org/XML/1998/namespace");

bool isRdf(const QXmlStreamReader& reader, QLatin1String name)
{
    return reader.namespaceUri() == rdfNamespace && reader.name() == name;
}

// Reads one property element whose start tag was just read, up to and including its end tag.
XMPProperty readPropertyElement(QXmlStreamReader& reader)
{
    XMPProperty property { reader.namespaceUri().toString(), reader.name().toString(), std::nullopt };
    const QXmlStreamAttributes attributes = reader.attributes();
    const bool plainAttributes = !attributes.hasAttribute(rdfNamespace, QStringLiteral("resource"))
        && !attributes.hasAttribute(rdfNamespace, QStringLiteral("parseType"));

    QString text;
    bool hasChildElements = false;
    int depth = 1;
    while (depth > 0 && !reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            hasChildElements = true;
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (depth == 1)
                text += reader.text();
            break;
        default:
            break;
        }
    }
    if (!hasChildElements && plainAttributes && !reader.hasError())
        property.value = text;
    return property;
}

} // namespace

QList<XMPProperty> readXMPProperties(const QByteArray& packet)
{
    QList<XMPProperty> properties;
    QXmlStreamReader reader(packet);
    bool insideRdf = false;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (isRdf(reader, QLatin1String("RDF"))) {
                insideRdf = true;
            } else if (insideRdf && isRdf(reader, QLatin1String("Description"))) {
                for (const QXmlStreamAttribute& attribute : reader.attributes()) {
                    if (attribute.namespaceUri() == rdfNamespace || attribute.namespaceUri() == xmlNamespace
                        || attribute.namespaceUri().isEmpty())
                        continue;
                    properties.append({ attribute.namespaceUri().toString(), attribute.name().toString(),
                        attribute.value().toString() });
                }
                // Child elements of the description are the top-level properties.
                while (!reader.atEnd()) {
                    const auto inner = reader.readNext();
                    if (inner == QXmlStreamReader::EndElement)
                        break;
                    if (inner == QXmlStreamReader::StartElement)
                        properties.append(readPropertyElement(reader));
                }
            } else if (insideRdf) {
                reader.skipCurrentElement();
            }
        } else if (token == QXmlStreamReader::EndElement && isRdf(reader, QLatin1String("RDF"))) {
            insideRdf = false;
        }
    }
    return properties;
}

} // namespace limnoscope
