// Bench-only driver for the GMime 3 peer: parse a message and decode every
// leaf (transfer encoding, and charset to UTF-8 for text parts), plus the
// subject, date and address headers (From, To, Cc, Reply-To), as our parse does.
#include "GMimeDriver.h"

#include <gmime/gmime.h>
#include <iconv.h>

namespace {

struct Totals {
    std::size_t bytes = 0;
    std::size_t leaves = 0;
};

void decodeLeaf(GMimeObject* /*parent*/, GMimeObject* obj, gpointer data) {
    auto* t = static_cast<Totals*>(data);
    if (!GMIME_IS_PART(obj)) return;
    GMimePart* part = GMIME_PART(obj);
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return;
    GMimeStream* out = g_mime_stream_mem_new();
    GMimeStream* filtered = g_mime_stream_filter_new(out);
    GMimeContentType* ct = g_mime_object_get_content_type(obj);
    if (g_mime_content_type_is_type(ct, "text", "*")) {
        const char* charset = g_mime_content_type_get_parameter(ct, "charset");
        if (charset) {
            GMimeFilter* f = g_mime_filter_charset_new(charset, "UTF-8");
            if (f) {
                g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered), f);
                g_object_unref(f);
            }
        }
    } else {
        (void)g_mime_part_get_filename(part);
    }
    g_mime_data_wrapper_write_to_stream(content, filtered);
    g_mime_stream_flush(filtered);
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
    t->bytes += arr ? arr->len : 0;
    t->leaves += 1;
    g_object_unref(filtered);
    g_object_unref(out);
}

std::size_t addressBytes(InternetAddressList* list) {
    std::size_t n = 0;
    if (!list) return 0;
    int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        const char* name = internet_address_get_name(a);
        n += name ? std::strlen(name) : 0;
        if (INTERNET_ADDRESS_IS_MAILBOX(a)) n += std::strlen(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)));
    }
    return n;
}

} // namespace

void gmimeInit() {
    g_mime_init();
    // glibc loads a charset's conversion module when a converter is opened
    // and unloads it when the last one closes, so GMime's converter for each
    // text part would load it afresh. A long-running program keeps them
    // loaded; so does this peer, by holding one converter per charset of the
    // corpus open for the whole run.
    static const char* const charsets[] = {"iso-8859-1", "iso-8859-2", "koi8-r",  "windows-1251", "windows-1252",
                                           "iso-8859-7", "shift_jis",  "euc-jp",  "iso-2022-jp",  "gb2312",
                                           "big5",       "euc-kr",     "us-ascii", "utf-8"};
    for (const char* name : charsets) (void)iconv_open("UTF-8", name);
}

PeerResult gmimeParseAndDecode(const std::string& msg) {
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(msg.data(), msg.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    PeerResult r;
    if (!message) return r;
    Totals t;
    const char* subject = g_mime_message_get_subject(message);
    r.headerBytes += subject ? std::strlen(subject) : 0;
    r.headerBytes += addressBytes(g_mime_message_get_from(message));
    r.headerBytes += addressBytes(g_mime_message_get_to(message));
    r.headerBytes += addressBytes(g_mime_message_get_cc(message));
    r.headerBytes += addressBytes(g_mime_message_get_reply_to(message));
    (void)g_mime_message_get_date(message);
    g_mime_message_foreach(message, decodeLeaf, &t);
    r.decodedBytes = t.bytes;
    r.leaves = t.leaves;
    g_object_unref(message);
    return r;
}
