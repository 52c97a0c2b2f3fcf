// URL component encoding and multipart/form-data bodies.
#include <boost/url/encode.hpp>
#include <boost/url/parse.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_generators.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <algorithm>

#include "clients/http/exchange.hpp"
#include "clients/http/http.hpp"

namespace clients::http {
namespace {

// Field values in Content-Disposition are quoted; escape as browsers do.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "%22"; break;
      case '\r': out += "%0D"; break;
      case '\n': out += "%0A"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

std::string header_value(std::string_view text) {
  std::string out(text);
  std::erase_if(out, [](char c) { return c == '\r' || c == '\n'; });
  return out;
}

std::string make_boundary(const std::vector<FormPart>& parts) {
  boost::uuids::random_generator generate;
  for (;;) {
    std::string boundary = "qorl-" + boost::uuids::to_string(generate());
    std::erase(boundary, '-');
    const bool clashes = std::ranges::any_of(
        parts, [&](const FormPart& part) { return part.data.find(boundary) != std::string::npos; });
    if (!clashes) return boundary;
  }
}

}  // namespace

std::string url_encode(std::string_view text) {
  return boost::urls::encode(text, boost::urls::unreserved_chars);
}

std::string describe_url(std::string_view url) {
  const auto parsed = boost::urls::parse_uri(url);
  if (!parsed || !parsed->has_authority()) return "<url>";
  std::string shown =
      std::string(parsed->scheme()) + "://" + std::string(parsed->encoded_host_and_port());
  return shown + std::string(parsed->encoded_path());
}

EncodedForm encode_multipart(const std::vector<FormPart>& parts) {
  const std::string boundary = make_boundary(parts);
  EncodedForm form{"multipart/form-data; boundary=" + boundary, {}};
  for (const auto& part : parts) {
    form.body += "--" + boundary + "\r\n";
    form.body += "Content-Disposition: form-data; name=" + quoted(part.name);
    if (part.filename) form.body += "; filename=" + quoted(*part.filename);
    form.body += "\r\n";
    if (part.content_type) {
      form.body += "Content-Type: " + header_value(*part.content_type) + "\r\n";
    } else if (part.filename) {
      form.body += "Content-Type: application/octet-stream\r\n";
    }
    form.body += "\r\n";
    form.body += part.data;
    form.body += "\r\n";
  }
  form.body += "--" + boundary + "--\r\n";
  return form;
}

}  // namespace clients::http
