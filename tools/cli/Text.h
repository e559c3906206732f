// What the command-line client does to text on its way in and out: server URLs without a
// scheme, dates as epoch milliseconds or ISO 8601, and the server's words made safe to show.
#ifndef CORVANE_CLI_TEXT_H
#define CORVANE_CLI_TEXT_H

#include <optional>
#include <string>
#include <string_view>

namespace corvane_cli {

// The URL as given when it names a scheme ("://"), else "http://" + url, as curl reads it.
std::string WithDefaultScheme(const std::string& url);

// A date as epoch milliseconds: a whole number of milliseconds, or ISO 8601 / RFC 3339 text,
// YYYY-MM-DD[(T| )HH:MM[:SS[.fraction]]][Z|(+|-)HH[:]MM]. Without an offset the time is UTC.
// Nothing when the text is neither, or names a day or time that does not exist.
std::optional<long long> ParseDate(std::string_view text);

// Epoch milliseconds as ISO 8601 in UTC: 2024-03-19T10:00:00Z, with .mmm when they are not 0.
std::string IsoDate(long long epochMilliseconds);

// text with every control character shown escaped, so that the server's words never drive the
// terminal nor forge a line or a table row: C0 controls (line feed and tab included) and DEL as
// \xHH; C1 controls, as UTF-8 (U+0080..U+009F) \u00HH, as a stray byte 0x80..0x9F \xHH.
// Everything else stays as it is.
std::string EscapeControls(std::string_view text);

// A gateway detail "HTTP 400: <html>...": the page's <title> when it has one, else its text
// without tags ("HTTP 400: 400 No required SSL certificate was sent"); any other detail, and a
// page with no text at all, as it is.
std::string PageText(const std::string& detail);

}  // namespace corvane_cli

#endif  // CORVANE_CLI_TEXT_H
