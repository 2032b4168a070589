#include "app/ArgumentQuoting.h"

#include "app/GbkBytes.h"

namespace {

// Length of the character at `at`: GBK pairs for narrow text, one unit for UTF-16 (a
// surrogate half is never a backslash or a quote).
std::size_t charLength(const std::string& text, std::size_t at) { return gbkCharLength(text, at); }
std::size_t charLength(const std::wstring&, std::size_t) { return 1; }

template <class Text>
Text quote(const Text& argument) {
  using Char = typename Text::value_type;
  Text out(1, Char('"'));
  std::size_t backslashes = 0;
  for (std::size_t at = 0; at < argument.size();) {
    const std::size_t length = charLength(argument, at);
    const Char c = argument[at];
    if (length == 1 && c == Char('\\')) {
      ++backslashes;
    } else {
      if (length == 1 && c == Char('"'))
        out.append(backslashes * 2 + 1, Char('\\'));
      else
        out.append(backslashes, Char('\\'));
      out.append(argument, at, length);
      backslashes = 0;
    }
    at += length;
  }
  out.append(backslashes * 2, Char('\\'));
  out += Char('"');
  return out;
}

template <class Text>
Text bareOrQuoted(const Text& argument) {
  using Char = typename Text::value_type;
  const Char special[] = {Char(' '), Char('\t'), Char('"'), Char(0)};
  if (!argument.empty() && argument.find_first_of(special) == Text::npos)
    return argument;
  return quote(argument);
}

template <class Text>
Text join(const std::vector<Text>& arguments) {
  Text line;
  for (const Text& argument : arguments) {
    if (!line.empty())
      line += typename Text::value_type(' ');
    line += bareOrQuoted(argument);
  }
  return line;
}

} // namespace

std::string quoteArgument(const std::string& argument) { return quote(argument); }
std::wstring quoteArgument(const std::wstring& argument) { return quote(argument); }
std::string argumentText(const std::string& argument) { return bareOrQuoted(argument); }
std::wstring argumentText(const std::wstring& argument) { return bareOrQuoted(argument); }
std::string joinArguments(const std::vector<std::string>& arguments) { return join(arguments); }
std::wstring joinArguments(const std::vector<std::wstring>& arguments) { return join(arguments); }
