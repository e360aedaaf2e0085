#include "Models/XmlDocument.h"

#include "Models/ContentError.h"

#include <boost/numeric/conversion/cast.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <cstring>
#include <limits>
#include <sstream>

namespace Tesk {

namespace {

bool StartsWith(const std::string& text, std::size_t at, const char* prefix)
{
  return text.compare(at, std::strlen(prefix), prefix) == 0;
}

// The deepest element nesting of the document, counted up to `limit` + 1. The
// parser below recurses once per nesting level, so the depth must be bounded
// before it runs. Comments, CDATA sections, processing instructions and
// declarations are skipped, quoted attribute values may hold '>'. A document
// that this scan cannot follow is left to the parser to reject.
int NestingDepth(const std::string& xml, int limit)
{
  int depth = 0;
  int deepest = 0;
  std::size_t at = 0;
  while ((at = xml.find('<', at)) != std::string::npos) {
    if (StartsWith(xml, at, "<!--")) {
      at = xml.find("-->", at + 4);
      at = at == std::string::npos ? at : at + 3;
    } else if (StartsWith(xml, at, "<![CDATA[")) {
      at = xml.find("]]>", at + 9);
      at = at == std::string::npos ? at : at + 3;
    } else if (StartsWith(xml, at, "<?")) {
      at = xml.find("?>", at + 2);
      at = at == std::string::npos ? at : at + 2;
    } else if (StartsWith(xml, at, "<!")) {
      at = xml.find('>', at + 2);
      at = at == std::string::npos ? at : at + 1;
    } else if (StartsWith(xml, at, "</")) {
      --depth;
      at = xml.find('>', at + 2);
      at = at == std::string::npos ? at : at + 1;
    } else {
      // A start tag; find its end outside quoted attribute values.
      char quote = 0;
      std::size_t end = at + 1;
      for (; end < xml.size(); ++end) {
        const char c = xml[end];
        if (quote) {
          if (c == quote)
            quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      if (end >= xml.size())
        return deepest;
      if (xml[end - 1] != '/' && ++depth > deepest) {
        deepest = depth;
        if (deepest > limit)
          return deepest;
      }
      at = end + 1;
    }
    if (at == std::string::npos)
      break;
  }
  return deepest;
}

} // namespace

XmlDocument::XmlDocument(const std::string& xml, std::string what, const char* root) : what_(std::move(what))
{
  if (xml.size() > MaxSize)
    Fail("document of " + std::to_string(xml.size()) + " bytes is larger than " + std::to_string(MaxSize));
  if (NestingDepth(xml, MaxDepth) > MaxDepth)
    Fail("elements are nested deeper than " + std::to_string(MaxDepth));

  Tree document;
  try {
    std::istringstream in(xml);
    boost::property_tree::read_xml(in, document, boost::property_tree::xml_parser::no_comments);
  } catch (const boost::property_tree::xml_parser_error& error) {
    Fail(std::string("not well-formed XML: ") + error.message() + " at line " + std::to_string(error.line()));
  } catch (const std::exception& error) {
    Fail(std::string("not readable: ") + error.what());
  }

  int roots = 0;
  for (auto& child : document) {
    if (!child.first.empty() && child.first.front() == '<')
      continue;
    if (++roots == 1) {
      rootName_ = child.first;
      root_ = std::move(child.second);
    }
  }
  if (roots != 1)
    Fail(roots == 0 ? "no root element" : "more than one root element");
  if (root)
    ExpectRoot(root);
}

void XmlDocument::ExpectRoot(const char* name) const
{
  if (rootName_ != name)
    Fail("root element is <" + rootName_ + ">, not <" + name + ">");
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
  throw ContentError("Failed to parse " + what_ + ": " + reason);
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
