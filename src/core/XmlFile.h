#pragma once
#include <QString>
#include <pugixml.hpp>

namespace pelvox {

// Settings files as XML documents: written whole as UTF-16 LE with a BOM and
// encoding="UTF-16", read in any encoding the parser detects.
namespace XmlFile {

enum class TLoadResult {
    Loaded,    // the document holds the file
    Missing,   // no such file: the caller keeps its defaults
    Malformed, // not well-formed (or unreadable): renamed aside to ".bad"
};

// Files larger than this are not settings files; they count as malformed.
constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

// Reads APath into ADoc (emptied first). A file that cannot be parsed is
// renamed to APath + ".bad" (replacing an older one) and reported on the
// debugger output; it never throws.
TLoadResult Load(const QString& APath, pugi::xml_document& ADoc, QString* AError = nullptr);

// Writes ADoc atomically: a temporary file beside APath, flushed, then renamed
// over it. Sets the declaration to version "1.0", encoding "UTF-16". With
// AOwnerOnly the file is readable by its owner only (files holding passwords).
// Throws Exception when the file cannot be written.
void Save(const QString& APath, pugi::xml_document& ADoc, bool AOwnerOnly = false);

// Serialises ADoc as the bytes Save writes (BOM included).
QByteArray ToBytes(pugi::xml_document& ADoc);

} // namespace XmlFile

// Text of an element (its first text child), and the conversions between
// QString and the parser's UTF-8 text.
QString XmlText(const pugi::xml_node& ANode);
QString XmlName(const pugi::xml_node& ANode);
// Appends <AName>AValue</AName> to AParent and returns the new element.
pugi::xml_node AppendTextElement(pugi::xml_node AParent, const char* AName, const QString& AValue);
// A new document with a root element of that name.
pugi::xml_node ResetDocument(pugi::xml_document& ADoc, const char* ARootName);

} // namespace pelvox
