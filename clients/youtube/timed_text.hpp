// YouTube's timed text format: <transcript><text start="1.5" dur="2.25">...</text></transcript>,
// whose texts are HTML (entities, sometimes formatting tags) inside XML.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "clients/youtube/transcripts.hpp"

namespace clients::youtube::internal {

// The snippets in document order, texts unescaped and without markup; elements without text
// are left out. Throws std::invalid_argument when `xml` is not such a document.
std::vector<TranscriptSnippet> parse_timed_text(std::string_view xml);

// Named (HTML 4) and numeric character references replaced by their characters; unknown
// references stay as they are.
std::string unescape_html(std::string_view text);

// Markup tags (<b>, </font>, <br/>, ...) removed; a "<" that starts no tag stays.
std::string strip_tags(std::string_view text);

}  // namespace clients::youtube::internal
