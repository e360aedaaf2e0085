#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class QXmlStreamReader;

namespace Tesk {

// One XML document of the map-update service or of a stick, read into a
// property tree with the limits that keep a hostile or broken document
// harmless: well-formed XML, at most MaxSize bytes, at most MaxDepth nested
// elements, no document type declaration. Elements become children named as
// written ("tns:id") holding their text; attributes and comments are not
// kept. Every failure is a ContentError naming the document.
class XmlDocument
{
public:
  static constexpr std::size_t MaxSize = 4 * 1024 * 1024;
  static constexpr int MaxDepth = 32;

  using Tree = boost::property_tree::ptree;

  // `documentName` names the document in error messages ("package list",
  // ...); with `rootElement`, a document whose root element is not
  // `rootElement` is refused too.
  XmlDocument(const std::string& xml, std::string documentName, const char* rootElement = nullptr);

  // The root element's prefixed name and its subtree.
  const std::string& RootName() const { return rootName; }
  const Tree& Root() const { return root; }

  // The first child `name` of `parent`, or null. Names are matched whole:
  // a dot in them is part of the name, not a path.
  static const Tree* Child(const Tree& parent, const char* name);

  // The text of the first child `name` of `parent`, without surrounding white
  // space. Required: a missing or blank element is a ContentError.
  std::string Text(const Tree& parent, const char* name) const;
  // As Text, but a missing element gives an empty string.
  std::string OptionalText(const Tree& parent, const char* name) const;

  // The text of the first child `name` of `parent` as written, white space
  // included; it may be empty, but a missing element is a ContentError.
  std::string Content(const Tree& parent, const char* name) const;

  // The texts of every child `name` of `parent`, in order; a blank one is a
  // ContentError.
  std::vector<std::string> Texts(const Tree& parent, const char* name) const;

  // A byte count written as decimal digits; anything else, or a value beyond
  // the signed 64-bit range, is a ContentError.
  std::int64_t Size(const Tree& parent, const char* name) const;

  [[noreturn]] void Fail(const std::string& reason) const;

private:
  // Builds the tree from the document's tokens; throws on the first fault.
  void ReadTree(const std::string& xml);
  // A start tag: the root, or a child of the innermost open element.
  void OpenElement(const QXmlStreamReader& reader, std::vector<Tree*>& open);
  // Throws unless the root element is `name`.
  void ExpectRoot(const char* name) const;

  std::string what;
  std::string rootName;
  Tree root;
};

// White space removed from both ends.
std::string Trimmed(const std::string& text);

} // namespace Tesk
