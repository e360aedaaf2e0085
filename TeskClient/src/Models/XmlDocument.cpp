#include "Models/XmlDocument.h"

#include "Models/ContentError.h"

#include <boost/numeric/conversion/cast.hpp>

#include <QByteArray>
#include <QStringRef>
#include <QXmlStreamReader>

#include <algorithm>
#include <limits>

namespace Tesk {

namespace {

// Appends `piece` in UTF-8. Names and most texts are ASCII, which is copied
// as it is without a conversion buffer.
void Append(std::string& text, const QStringRef& piece)
{
  const QChar* const begin = piece.unicode();
  const QChar* const end = begin + piece.size();
  if (std::all_of(begin, end, [](QChar c) { return c.unicode() < 0x80; })) {
    text.reserve(text.size() + static_cast<std::size_t>(piece.size()));
    for (const QChar* c = begin; c != end; ++c)
      text += static_cast<char>(c->unicode());
    return;
  }
  const QByteArray utf8 = piece.toUtf8();
  text.append(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

} // namespace

XmlDocument::XmlDocument(const std::string& xml, std::string documentName, const char* rootElement)
    : what(std::move(documentName))
{
  if (xml.size() > MaxSize)
    Fail("document of " + std::to_string(xml.size()) + " bytes is larger than " + std::to_string(MaxSize));
  ReadTree(xml);
  if (rootElement)
    ExpectRoot(rootElement);
}

void XmlDocument::ReadTree(const std::string& xml)
{
  // Qt's stream reader checks the whole document as strictly as XML demands
  // (matching end tags, one root element, legal characters, the declared
  // encoding) and needs no recursion, so the tree is built from its tokens
  // and handed out only when the last token has passed. Names are kept as
  // written, prefix included: the replies are matched by their prefixed names
  // whether or not the prefix is declared.
  QXmlStreamReader reader(QByteArray::fromRawData(xml.data(), static_cast<int>(xml.size())));
  reader.setNamespaceProcessing(false);
  std::vector<Tree*> open; // the elements not yet closed, the innermost last
  bool hasRoot = false;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
    case QXmlStreamReader::StartElement:
      hasRoot = true;
      OpenElement(reader, open);
      break;
    case QXmlStreamReader::EndElement:
      if (!open.empty())
        open.pop_back();
      break;
    case QXmlStreamReader::Characters:
      // Text of an element, CDATA included, joined around its child elements.
      if (!open.empty())
        Append(open.back()->data(), reader.text());
      break;
    case QXmlStreamReader::DTD:
      // No reply carries one; its entities would be expanded into the text,
      // which a few bytes of declaration can make arbitrarily large.
      Fail("a document type declaration is not accepted");
    case QXmlStreamReader::EntityReference:
      Fail("entity &" + reader.name().toString().toStdString() + "; cannot be resolved");
    default:
      break; // the declaration, comments and processing instructions
    }
  }
  if (reader.hasError()) {
    if (!hasRoot && reader.error() == QXmlStreamReader::PrematureEndOfDocumentError)
      Fail("no root element");
    Fail("not well-formed XML: " + reader.errorString().toStdString() + " at line " +
         std::to_string(reader.lineNumber()));
  }
}

void XmlDocument::OpenElement(const QXmlStreamReader& reader, std::vector<Tree*>& open)
{
  if (open.size() >= static_cast<std::size_t>(MaxDepth))
    Fail("elements are nested deeper than " + std::to_string(MaxDepth));
  if (open.empty()) {
    // The reader refuses a second root element itself.
    Append(rootName, reader.qualifiedName());
    open.push_back(&root);
    return;
  }
  std::string name;
  Append(name, reader.qualifiedName());
  open.push_back(&open.back()->push_back(Tree::value_type(std::move(name), Tree()))->second);
}

void XmlDocument::ExpectRoot(const char* name) const
{
  if (rootName != name)
    Fail("root element is <" + rootName + ">, not <" + name + ">");
}

const XmlDocument::Tree* XmlDocument::Child(const Tree& parent, const char* name)
{
  const auto child = parent.get_child_optional(Tree::path_type(name, '\0'));
  return child ? &*child : nullptr;
}

std::string XmlDocument::OptionalText(const Tree& parent, const char* name) const
{
  const Tree* child = Child(parent, name);
  return child ? Trimmed(child->data()) : std::string();
}

std::string XmlDocument::Content(const Tree& parent, const char* name) const
{
  const Tree* child = Child(parent, name);
  if (!child)
    Fail(std::string("<") + name + "> is missing");
  return child->data();
}

std::string XmlDocument::Text(const Tree& parent, const char* name) const
{
  std::string text = Trimmed(Content(parent, name));
  if (text.empty())
    Fail(std::string("<") + name + "> is empty");
  return text;
}

std::vector<std::string> XmlDocument::Texts(const Tree& parent, const char* name) const
{
  std::vector<std::string> texts;
  for (const auto& child : parent) {
    if (child.first != name)
      continue;
    std::string text = Trimmed(child.second.data());
    if (text.empty())
      Fail(std::string("<") + name + "> is empty");
    texts.push_back(std::move(text));
  }
  return texts;
}

std::int64_t XmlDocument::Size(const Tree& parent, const char* name) const
{
  const std::string text = Text(parent, name);
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      Fail(std::string("<") + name + "> is not a byte count: " + text.substr(0, 64));
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
      Fail(std::string("<") + name + "> overflows: " + text.substr(0, 64));
    value = value * 10 + digit;
  }
  try {
    return boost::numeric_cast<std::int64_t>(value);
  } catch (const boost::numeric::bad_numeric_cast&) {
    Fail(std::string("<") + name + "> overflows: " + text.substr(0, 64));
  }
}

void XmlDocument::Fail(const std::string& reason) const
{
  throw ContentError("Failed to parse " + what + ": " + reason);
}

std::string Trimmed(const std::string& text)
{
  static const char* const blanks = " \t\r\n";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos)
    return std::string();
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

} // namespace Tesk
