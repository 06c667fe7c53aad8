#!/usr/bin/env python3
"""Writes what Python's email package decodes from a set of messages, as JSON,
for the MIME parser's comparison test.

  mime-expectations.py OUT_DIR [SAMPLE_DIR...]

Generates messages in many charsets and transfer encodings into OUT_DIR/generated,
then reads every generated message and every msg_*.txt in the sample dirs and
writes OUT_DIR/expectations.json: one entry per file with the subject, the
addresses, the date, the plain-text and HTML bodies and the attachments.

Python decides the MIME structure and every decoding (transfer encodings,
charsets, RFC 2047, RFC 2231); only the choice of which leaves are bodies and
how unnamed attachments are named follows our parser's rules, so that the two
results are comparable.
"""
import base64
import codecs
import json
import os
import random
import sys
from email import policy
from email.header import Header, decode_header, make_header
from email.message import EmailMessage
from email.parser import BytesParser
from email.utils import formataddr, getaddresses, parsedate_to_datetime

SAMPLES = [
    # charset, subject, body, display name
    ("utf-8", "Grüße aus Köln — ✓", "Héllo wörld, ça va? 😀\nZweite Zeile.\n", "Jörg Müller"),
    ("iso-8859-1", "Café crème", "Voilà: déjà vu, naïve façade.\n", "Zoë Dupré"),
    ("iso-8859-2", "Příliš žluťoučký kůň", "Úpěl ďábelské ódy.\n", "Łukasz Żółw"),
    ("iso-8859-5", "Привет мир", "Съешь же ещё этих мягких французских булок.\n", "Иван Петров"),
    ("iso-8859-7", "Καλημέρα κόσμε", "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία.\n", "Νίκος Παππάς"),
    ("koi8-r", "Съешь ещё", "В чащах юга жил бы цитрус? Да, но фальшивый экземпляр!\n", "Анна Каренина"),
    ("windows-1251", "Здравствуйте", "Широкая электрификация южных губерний.\n", "Олег Сидоров"),
    ("windows-1252", "Smart “quotes” – €5", "Price: €10 — “quoted” ‘text’…\n", "Renée O’Neil"),
    ("iso-8859-15", "Œuvre à 5 €", "L'œuvre coûte 5 €.\n", "Bérénice Œster"),
    ("shift_jis", "こんにちは世界", "日本語のテキストです。\n", "山田太郎"),
    ("euc-jp", "日本語の件名", "いろはにほへと ちりぬるを\n", "鈴木花子"),
    ("iso-2022-jp", "会議の案内", "明日の会議は十時からです。\n", "佐藤一郎"),
    ("gb2312", "你好世界", "简体中文测试文本。\n", "王小明"),
    ("gb18030", "测试邮件", "这是一封测试邮件。\n", "李雷"),
    ("big5", "繁體中文", "這是繁體中文的測試。\n", "陳大文"),
    ("euc-kr", "안녕하세요", "다람쥐 헌 쳇바퀴에 타고파.\n", "김철수"),
    ("iso-8859-9", "Türkçe başlık", "Pijamalı hasta yağız şoföre çabucak güvendi.\n", "Ömer Şahin"),
    ("windows-1250", "Zażółć gęślą", "Zażółć gęślą jaźń.\n", "Paweł Kowalski"),
    ("iso-8859-8", "שלום עולם", "דג סקרן שט בים מאוכזב.\n", "דוד כהן"),
    ("utf-16", "UTF-16 body", "Text in UTF-16 ✓\n", "Ann Example"),
]

CTES = ["quoted-printable", "base64", "8bit"]


def generate(out_dir):
    rng = random.Random(4)
    os.makedirs(out_dir, exist_ok=True)
    paths = []
    for i, (cs, subject, body, name) in enumerate(SAMPLES):
        for j, cte in enumerate(CTES):
            if cs == "utf-16" and cte == "8bit":
                continue
            msg = EmailMessage(policy=policy.SMTP)
            if j == 0:
                msg["Subject"] = Header(subject, cs if cs != "utf-16" else "utf-8").encode()
            else:
                msg["Subject"] = subject  # the policy encodes it as UTF-8 words
            if j == 2:
                msg["From"] = formataddr((name, f"sender{i}@example.org"), charset="utf-8")
            else:
                msg["From"] = formataddr((name, f"sender{i}@example.org"),
                                         charset=cs if cs != "utf-16" else "utf-8")
            msg["To"] = f'"Last, First" <to{i}@example.com>, plain{i}@example.net'
            msg["Cc"] = f"group: a{i}@x.example, b{i}@y.example;"
            msg["Date"] = "Tue, 5 Mar 2024 09:15:00 +0100"
            msg["Message-ID"] = f"<gen{i}.{j}@example.org>"
            msg.set_content(body * (1 + j * 3), charset=cs, cte=cte)
            if j >= 1:
                msg.add_alternative(f"<p>{body}</p>", subtype="html", charset="utf-8")
            if j == 1:
                data = bytes(rng.randrange(256) for _ in range(3000))
                msg.add_attachment(data, maintype="application", subtype="octet-stream",
                                   filename=f"données-{cs}.bin")
                msg.add_attachment(b"%PDF-1.4 fake", maintype="application", subtype="pdf")
                # a long non-ASCII name is folded into RFC 2231 continuations
                msg.add_attachment(b"long name", maintype="application", subtype="octet-stream",
                                   filename=(subject + " ") * 4 + ".txt")
            if j == 2:
                msg.add_attachment(body.encode("utf-8"), maintype="text", subtype="plain",
                                   filename="notes.txt", disposition="attachment")
                inner = EmailMessage()
                inner["Subject"] = "inner"
                inner.set_content("inner body\n")
                msg.add_attachment(inner)
            path = os.path.join(out_dir, f"gen-{i:02d}-{j}.eml")
            with open(path, "wb") as f:
                f.write(msg.as_bytes())
            paths.append(path)
    return paths


def c1_cp1252(data):
    # Windows-1252 with its five undefined bytes read as C1 controls, as our parser does.
    return "".join(bytes([b]).decode("cp1252") if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else chr(b)
                   for b in data)


ALIASES = {"utf8": "utf-8", "latin1": "iso-8859-1", "ascii": "us-ascii", "ks_c_5601-1987": "euc-kr",
           "x-sjis": "shift_jis", "gb2312": "gb18030", "gbk": "gb18030", "cp1252": "windows-1252",
           "unicode-1-1-utf-7": "utf-7"}


# UTF-8 in which only the bytes of invalid sequences are read as Windows-1252.
codecs.register_error("bx-cp1252", lambda e: (c1_cp1252(e.object[e.start:e.end]), e.end))


def decode_text(data, charset):
    name = (charset or "").strip('" ').lower()
    name = ALIASES.get(name, name)
    if name == "us-ascii":
        name = "utf-8"
    try:
        codec = codecs.lookup(name).name if name else None
    except LookupError:
        codec = None
    if codec and codec not in ("utf-8", "cp1252"):
        try:
            return data.decode(codec)
        except UnicodeDecodeError:
            pass
        if any(b >= 0x80 for b in data):
            try:
                return data.decode("utf-8")
            except UnicodeDecodeError:
                pass
        return data.decode(codec, errors="replace")
    if codec == "cp1252":
        return c1_cp1252(data)
    return data.decode("utf-8", errors="bx-cp1252")


EXT = {"application/pdf": "pdf", "image/jpeg": "jpg", "image/png": "png", "image/gif": "gif",
       "text/plain": "txt", "text/html": "html", "text/calendar": "ics", "application/zip": "zip"}


def collect(part, text, html, atts):
    ctype = part.get_content_type()
    if part.is_multipart() and part.get_content_maintype() == "multipart":
        if part.get_content_subtype() != "alternative":
            for c in part.get_payload():
                collect(c, text, html, atts)
            return
        local, tres, hres = [], None, None
        for c in part.get_payload():
            t, h = [], []
            collect(c, t, h, local)
            if tres is None and t:
                tres = t
            if h:
                hres = h
        text += tres or []
        html += hres or []
        atts += local
        return
    if part.get_content_maintype() == "multipart":
        return  # a multipart Python could not split: ours contributes nothing either
    disp = part.get_content_disposition()
    maintype, subtype = ctype.split("/", 1)
    if disp != "attachment" and maintype == "text" and subtype in ("plain", "enriched", "html"):
        payload = part.get_payload(decode=True) or b""
        s = decode_text(payload, part.get_content_charset())
        (text if subtype != "html" else html).append(s)
        return
    if ctype == "message/rfc822" or maintype == "message":
        # Python parses it into a sub-message; our parser keeps the raw bytes.
        inner = part.get_payload()
        data = inner[0].as_bytes() if isinstance(inner, list) and inner else b""
        kind = "message"
    else:
        data = part.get_payload(decode=True) or b""
        kind = "leaf"
    ext = "eml" if subtype == "rfc822" else EXT.get(ctype, "")
    name = part.get_filename()
    if not name:
        name = f"attachment-{len(atts) + 1}" + (f".{ext}" if ext else "")
    atts.append({"filename": str(name), "mimeType": ctype, "kind": kind,
                 "data": base64.b64encode(data).decode("ascii")})


def addresses(msg, name):
    raw = msg.get_all(name, [])
    if not raw:
        return []
    out = []
    for display, email in getaddresses([str(make_header(decode_header(str(v)))) for v in raw[:1]]):
        if email or display:
            out.append({"name": display, "email": email})
    return out


def describe(path):
    with open(path, "rb") as f:
        raw = f.read()
    msg = BytesParser(policy=policy.compat32).parsebytes(raw)
    subject = msg.get("Subject")
    if subject is not None:
        subject = str(make_header(decode_header(str(subject))))
    text, html, atts = [], [], []
    collect(msg, text, html, atts)
    date = None
    if msg.get("Date") is not None:
        try:
            date = int(parsedate_to_datetime(str(msg.get("Date"))).timestamp())
        except (TypeError, ValueError, IndexError):
            date = None
    return {
        "file": path,
        "subject": subject or "",
        "from": addresses(msg, "From"),
        "to": addresses(msg, "To"),
        "cc": addresses(msg, "Cc"),
        "date": date,
        "textBody": "\n\n".join(text) if text else None,
        "htmlBody": "<hr>".join(html) if html else None,
        "attachments": atts,
        "defects": len(msg.defects),
    }


def main():
    out = sys.argv[1]
    files = generate(os.path.join(out, "generated"))
    for d in sys.argv[2:]:
        if os.path.isdir(d):
            files += sorted(os.path.join(d, n) for n in os.listdir(d) if n.startswith("msg_") and n.endswith(".txt"))
    result = []
    for p in files:
        try:
            result.append(describe(p))
        except Exception as e:  # a message Python itself cannot read is left out
            result.append({"file": p, "error": repr(e)})
    with open(os.path.join(out, "expectations.json"), "w", encoding="utf-8") as f:
        json.dump(result, f, ensure_ascii=False, indent=1)


if __name__ == "__main__":
    main()
