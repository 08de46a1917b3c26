#!/usr/bin/env python3
"""Driver coverage: prints a default, a two-sided and a grey job through every PPD of a fixed sample
of vendor PPDs, with CUPS's own filters and a private scheduler, into a given build of the backend,
and compares the colour and sides each job's control file reports with what the job's code makes
the device do.

What the device does is found without the backend's code: Ghostscript runs the job's PostScript with
setpagedevice watched (oracle.ps), PJL settings are read from the job's PJL header and from PJL the
driver wrote into the PostScript, and for PDF jobs (which carry no code) from the code of the PPD
choices the job selected. Where no code says anything, the device prints one-sided, in colour when
the PPD says it is a colour device.

  coverage.py run --backend FILE --log-dir DIR --ppd-dir DIR --sample FILE --out FILE.json
  coverage.py report --before FILE.json --after FILE.json --out docs/drivers.md
  coverage.py rejudge --results FILE.json --log-dir DIR --ppd-dir DIR --work DIR
  coverage.py extract --sample FILE --ppd-dir DIR
"""

import argparse
import collections
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FILTERS = "/usr/lib/cups/filter"
GREY_WORDS = ("gray", "grey", "mono", "black", "bw", "kgray")
COLOUR_KEYS = ("ProcessColorModel", "RENDERMODE", "DATAMODE", "GRAYSCALE")
ONE_SIDED_WORDS = ("none", "off", "false", "simplex", "single", "1sided", "oneside")


# ---- PPD files, as far as choosing a job's options needs them.

def hex_decode(text):
    def one(match):
        digits = re.sub(r"\s", "", match.group(1))
        if len(digits) % 2:
            return match.group(0)
        return bytes.fromhex(digits).decode("latin-1")
    return re.sub(r"<([0-9A-Fa-f\s]+)>", one, text)


def read_ppd(path):
    text = open(path, encoding="latin-1").read()
    ppd = {"options": collections.OrderedDict(), "color": False}
    ppd["color"] = bool(re.search(r"^\*ColorDevice:\s*True", text, re.M))
    installable = set()
    for group in re.finditer(r"^\*OpenGroup:\s*InstallableOptions(.*?)^\*CloseGroup:", text,
                             re.M | re.S):
        installable.update(re.findall(r"^\*OpenUI\s+\*([^/:\s]+)", group.group(1), re.M))
    for match in re.finditer(r"^\*(?:JCL)?OpenUI\s+\*([^/:\s]+)(?:/([^:]*))?:", text, re.M):
        ppd["options"].setdefault(match.group(1), {"keyword": match.group(1),
                                                    "text": match.group(2) or "", "choices": [],
                                                    "default": "",
                                                    "installable": match.group(1) in installable})
    for match in re.finditer(r'^\*([^%\s:][^\s:]*)\s+([^/:\s]+)(?:/([^:]*))?:\s*"([^"]*)"',
                             text, re.M):
        option = ppd["options"].get(match.group(1))
        if option is not None and all(c[0] != match.group(2) for c in option["choices"]):
            option["choices"].append((match.group(2), match.group(3) or "",
                                      hex_decode(match.group(4))))
    for match in re.finditer(r"^\*Default([^\s:]+):\s*(\S+)", text, re.M):
        if match.group(1) in ppd["options"]:
            ppd["options"][match.group(1)]["default"] = match.group(2)
    filters = re.findall(r'^\*cupsFilter2?:\s*"([^"]*)"', text, re.M)
    ppd["language"] = "PostScript"
    for line in filters:
        if "vnd.cups-pdf 0 -" in line:
            ppd["language"] = "PDF"
        elif "foomatic" in line:
            ppd["language"] = "foomatic"
        elif "hpps" in line:
            ppd["language"] = "PostScript (hpps)"
        elif "raster" in line:
            ppd["language"] = "raster"
    return ppd


def code_events(code):
    """(kind, key, value) settings a piece of code spells, in order, as text."""
    events = []
    for match in re.finditer(r"(/Duplex|/Tumble|/ProcessColorModel)(?![A-Za-z])\s*([/(]?\w+)"
                             r"|@PJL\s+SET\s+(\w+)\s*=\s*(\w+)", code, re.I):
        if match.group(1):
            value = "/" + match.group(2)[1:] if match.group(2).startswith("(") else match.group(2)
            events.append((match.start(), "PS", match.group(1)[1:], value))
        else:
            events.append((match.start(), "PJL", match.group(3).upper(), match.group(4).upper()))
    return [e[1:] for e in sorted(events)]


def fold(events, color_device):
    """What the device prints after these settings, in order: (colour, sides). The binding edge
    is not judged."""
    color = "Color" if color_device else "Grayscale"
    duplex = "OneSided"
    for kind, key, value in events:
        if kind == "PS" and key == "Duplex" and value in ("true", "false"):
            duplex = "TwoSided" if value == "true" else "OneSided"
        elif kind == "PS" and key == "ProcessColorModel":
            if value == "/DeviceGray":
                color = "Grayscale"
            elif value in ("/DeviceRGB", "/DeviceCMYK", "/DeviceCMY"):
                color = "Color"
        elif kind == "PJL" and key == "DUPLEX" and value in ("ON", "OFF"):
            duplex = "TwoSided" if value == "ON" else "OneSided"
        elif kind == "PJL" and key in ("RENDERMODE", "DATAMODE") and value in ("COLOR",
                                                                              "GRAYSCALE"):
            color = "Color" if value == "COLOR" else "Grayscale"
        elif kind == "PJL" and key == "GRAYSCALE":
            if value == "OFF":
                color = "Color"
            elif value in ("ON", "COMPOSITE", "BLACKONLY"):
                color = "Grayscale"
    return color, duplex


# ---- The jobs: each PPD's own option words for two-sided and for grey.

def named(option, name, text, want):
    """What the vendor's words say a choice does, for code that says nothing the device is known
    to read: "Grayscale" or "Color", "TwoSided" or "OneSided", or None."""
    label = (option["keyword"] + " " + option["text"]).lower()
    words = re.findall(r"[a-z0-9]+", (name + " " + text).lower())
    if want == "grey":
        # "Neutral Grays: Black Only" and the like render greys; they do not make a colour job grey.
        if not any(w in label for w in ("color", "colour", "mono")):
            return None
        if any(w in words for w in ("gray", "grey", "grayscale", "greyscale", "mono",
                                     "monochrome", "black", "bw", "kgray")):
            return "Grayscale"
        if any(w in words for w in ("color", "colour", "cmyk", "rgb", "full")):
            return "Color"
        return None
    if "duplex" not in label and "2-sided" not in label and "two-sided" not in label:
        return None
    if any(w in words for w in ("none", "off", "false", "simplex", "single", "1", "one")):
        return "OneSided"
    if any(w in words for w in ("true", "on", "long", "short", "duplex", "duplexnotumble",
                                 "duplextumble", "double", "2", "two", "book", "tablet")):
        return "TwoSided"
    return None


def pick(ppd, want):
    """(option, choice) a user would pick for `want` ("duplex" or "grey"): a choice whose code
    makes the device do it, else one whose words say so; None when the PPD has neither."""
    by_code, by_words = None, None
    wanted = "TwoSided" if want == "duplex" else "Grayscale"
    for keyword, option in ppd["options"].items():
        if option["installable"]:
            continue
        for name, text, code in option["choices"]:
            effect = fold(code_events(code), True)
            if by_code is None and effect[1 if want == "duplex" else 0] == wanted and (
                    want != "grey" or "neutral" not in keyword.lower()):
                by_code = (keyword, name)
            if by_words is None and not code_events(code) and named(option, name, text,
                                                                    want) == wanted:
                by_words = (keyword, name)
    return by_code or by_words


def jobs_for(ppd):
    """The jobs a PPD's queue prints; a colour device's also asks for colour outright, since the
    queue's own default may be grey."""
    duplex = pick(ppd, "duplex")
    grey = pick(ppd, "grey")
    colour = [("colour", ["-o", "print-color-mode=color"])] if ppd["color"] else []
    return colour + [
        ("default", []),
        ("duplex", ["-o", "%s=%s" % duplex] if duplex else ["-o", "sides=two-sided-long-edge"]),
        ("grey", ["-o", "%s=%s" % grey] if grey else ["-o", "print-color-mode=monochrome"]),
        ("copies", ["-o", "copies=3"]),
        ("collate", ["-o", "copies=2", "-o", "collate=true"]),
        ("2-up", ["-o", "number-up=2"]),
        ("range", ["-o", "page-ranges=2-3"]),
    ]


# ---- What the device makes of a job.

def split_pjl_header(data):
    """(PJL header settings, the rest) of a job's bytes."""
    events = []
    rest = data
    while True:
        stripped = rest
        while stripped[:1] in (b"\r", b"\n") or stripped.startswith(b"\x1b%-12345X"):
            stripped = stripped[9:] if stripped.startswith(b"\x1b%-12345X") else stripped[1:]
        if not stripped.startswith(b"@PJL"):
            return events, stripped
        end = stripped.find(b"\n")
        line = stripped[: end if end >= 0 else len(stripped)].decode("latin-1")
        events += code_events(hex_decode(line))
        rest = stripped[end + 1:] if end >= 0 else b""


def postscript_events(postscript, work):
    """Settings the PostScript makes, as Ghostscript runs it."""
    lines = []
    postscript = re.sub(rb"systemdict\s*/setpagedevice\s+get\s+exec", b"setpagedevice", postscript)
    for line in postscript.split(b"\n"):
        text = line.decode("latin-1")
        if text.lstrip().startswith("@PJL"):
            calls = ["(%s) (%s) vporacle-pjl" % (k, v) for kind, k, v in
                     code_events(hex_decode(text)) if kind == "PJL"]
            line = " ".join(calls).encode()
        if text.startswith("%%EndFeature"):
            lines.append(b"vporacle-strict")
        lines.append(line)
        if text.startswith("%%BeginFeature:"):
            lines.append(b"vporacle-lenient")
    path = os.path.join(work, "oracle-job.ps")
    with open(path, "wb") as out:
        out.write(b"\n".join(lines))
    try:
        ran = subprocess.run(["gs", "-q", "-dNODISPLAY", "-dNOSAFER", "-dBATCH", "-dNOPAUSE",
                              os.path.join(HERE, "oracle.ps"), path],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
        output = ran.stdout.decode("latin-1")
    except subprocess.TimeoutExpired as timeout:
        output = (timeout.stdout or b"").decode("latin-1")
    events = []
    for line in output.splitlines():
        parts = line.split()
        if len(parts) == 4 and parts[0] == "VPORACLE":
            value = re.sub(r"^\((.*)\)$", r"/\1", parts[3])  # a string stands for a name
            events.append((parts[1], parts[2], value))
    return events


def pjl_copies(events):
    """(uncollated copies of each page, collated copies of the job) the PJL header asks for. A
    page's own copies (a page language's command) replace the first; the printer repeats the whole
    job for the second, so the two multiply."""
    copies, quantity = None, 1
    for kind, key, value in events:
        if kind == "PJL" and key in ("COPIES", "QTY") and value.isdigit():
            if key == "COPIES":
                copies = int(value)
            else:
                quantity = int(value)
    return copies, quantity


def impressions(pages, events):
    """Pages the device prints: each page (a list of its own copies, None where the job left
    them to the device's default) times its copies, times the job's collated copies."""
    copies, quantity = pjl_copies(events)
    return quantity * sum(own if own is not None else (copies or 1) for own in pages)


XL_SIZES = {0: 1, 1: 2, 2: 4, 3: 2, 4: 4, 5: 4}  # ubyte uint16 uint32 sint16 sint32 real32
XL_GREY_SPACES = (0, 1)  # eBiLevel, eGray
XL_PAGE_COPIES, XL_COLOR_SPACE, XL_SIMPLEX, XL_DUPLEX = 0x31, 0x03, 0x34, 0x35


def pclxl_read(data):
    """(pages' copies, sides or None, drew in colour) of a PCL XL stream: BeginPage's page mode,
    EndPage's copies, SetColorSpace's colour spaces."""
    end = data.find(b"\n")
    little = data[:1] == b")"
    order = "<" if little else ">"
    i, n = end + 1, len(data)
    value, attributes = None, {}
    pages, sides, colour = [], None, False

    def number(kind, at):
        fmt = {0: "B", 1: "H", 2: "I", 3: "h", 4: "i", 5: "f"}[kind]
        return struct.unpack_from(order + fmt, data, at)[0]

    while i < n:
        tag = data[i]
        i += 1
        if 0xC0 <= tag <= 0xC5:
            value = number(tag - 0xC0, i)
            i += XL_SIZES[tag - 0xC0]
        elif 0xC8 <= tag <= 0xCD:
            length_kind = data[i] - 0xC0
            length = number(length_kind, i + 1)
            i += 1 + XL_SIZES[length_kind] + length * XL_SIZES[tag - 0xC8]
            value = None
        elif 0xD0 <= tag <= 0xD5:
            i += 2 * XL_SIZES[tag - 0xD0]
        elif 0xE0 <= tag <= 0xE5:
            i += 4 * XL_SIZES[tag - 0xE0]
        elif tag == 0xF8:
            attributes[data[i]] = value
            i += 1
        elif tag == 0xF9:
            attributes[number(1, i)] = value
            i += 2
        elif tag == 0xFA:
            i += 4 + number(2, i)
        elif tag == 0xFB:
            i += 1 + data[i]
        elif 0x41 <= tag <= 0xBF:
            if tag == 0x43:  # BeginPage
                if XL_DUPLEX in attributes:
                    sides = "TwoSided"
                elif XL_SIMPLEX in attributes:
                    sides = "OneSided"
            elif tag == 0x44:  # EndPage
                pages.append(attributes.get(XL_PAGE_COPIES))
            elif tag == 0x6A and attributes.get(XL_COLOR_SPACE) not in XL_GREY_SPACES:
                colour = True
            attributes = {}
        elif tag == 0x1B:  # the universal exit: back to PJL
            break
    return pages, sides, colour


# Commands followed by as many bytes of data as their value says: raster rows and planes, fonts,
# patterns, palettes, transparent data.
PCL_DATA_COMMANDS = (b"*bV", b"&pX")


def pcl5_read(data):
    """(pages' copies, sides or None, drew in colour) of PCL 5: form feeds, page ejects and a
    reset after marks end pages; data whose length a command gives is skipped."""
    pages, sides, colour = [], None, False
    copies, marked = None, False
    i, n = 0, len(data)
    while i < n:
        byte = data[i:i + 1]
        if byte == b"\x0c":
            pages.append(copies)
            marked = False
            i += 1
            continue
        if byte != b"\x1b":
            marked = marked or byte > b" "
            i += 1
            continue
        if data.startswith(b"\x1b%-12345X", i):
            break
        if i + 1 < n and 0x21 <= data[i + 1] <= 0x2F and i + 2 < n:
            parameter = data[i + 1:i + 2]
            group = data[i + 2:i + 3] if 0x60 <= data[i + 2] <= 0x7E else b""
            j = i + 2 + len(group)
            while j < n:
                match = re.match(rb"[+-]?[0-9]*(?:\.[0-9]*)?", data[j:j + 32])
                number = match.group(0)
                j += len(number)
                if j >= n:
                    break
                final = data[j:j + 1]
                j += 1
                amount = int(float(number)) if number.strip(b"+-.") else 0
                command = parameter + group + final.upper()
                if command == b"&lX":
                    copies = amount
                elif command == b"&lS":
                    sides = "TwoSided" if amount in (1, 2) else "OneSided"
                elif (command == b"&lH" and amount == 0) or command == b"&aG":
                    # a page eject, or a change of side in two-sided printing, ends a marked page
                    if marked:
                        pages.append(copies)
                    marked = False
                elif command == b"*rU" and amount != 1:
                    colour = True
                elif command == b"*vW":
                    colour = True
                if final.upper() == b"W" or command in PCL_DATA_COMMANDS:
                    j += amount
                    marked = marked or command in (b"*bW", b"*bV")
                if not (0x60 <= final[0] <= 0x7E):
                    break
            i = j
            continue
        if data[i + 1:i + 2] == b"E" and marked:
            pages.append(copies)
            marked = False
        i += 2
    if marked:
        pages.append(copies)
    return pages, sides, colour


RASTER_GREY_SPACES = (0, 3, 18)  # W, K, sGray


def raster_read(data):
    """(pages' copies, sides, drew in colour) of CUPS or PWG raster: every page header, the pages'
    bitmaps walked past line by line."""
    sync = data[:4]
    little = sync in (b"tSaR", b"2SaR", b"3SaR")
    order = "<" if little else ">"
    compressed = sync in (b"RaS2", b"2SaR")
    i, n = 4, len(data)
    pages, sides, colour = [], "OneSided", False
    while i + 1796 <= n:
        header = data[i:i + 1796]
        field = lambda at: struct.unpack_from(order + "I", header, at)[0]
        duplex, copies = field(272), field(340)
        height, bits, line_bytes, space = field(376), field(388), field(392), field(400)
        pages.append(copies or 1)
        sides = "TwoSided" if duplex else sides
        colour = colour or space not in RASTER_GREY_SPACES
        i += 1796
        if not compressed:
            i += height * line_bytes
            continue
        pixel = max(1, bits // 8)
        rows = 0
        while rows < height and i < n:
            rows += data[i] + 1
            i += 1
            done = 0
            while done < line_bytes and i < n:
                run = data[i]
                i += 1
                if run < 128:
                    i += pixel
                    done += (run + 1) * pixel
                else:
                    i += (257 - run) * pixel
                    done += (257 - run) * pixel
    return pages, sides, colour


def pdf_pages(data, work):
    path = os.path.join(work, "oracle-job.pdf")
    with open(path, "wb") as out:
        out.write(data)
    info = subprocess.run(["pdfinfo", path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          universal_newlines=True).stdout
    match = re.search(r"^Pages:\s*(\d+)", info, re.M)
    return [None] * int(match.group(1)) if match else []


def page_language(rest):
    if rest.startswith(b"%PDF"):
        return "PDF"
    if b"%!PS" in rest[:4096]:
        return "PostScript"
    if re.match(rb"[()] HP-PCL XL", rest):
        return "PCL XL"
    if rest[:4] in (b"RaSt", b"tSaR", b"RaS2", b"2SaR", b"RaS3", b"3SaR"):
        return "raster"
    if rest.startswith(b"\x1b"):
        return "PCL 5"
    return "unknown"


def device_does(ppd, data, options, work):
    """(colour, sides, impressions, page language, how it was found, opaque choices) for the job's
    bytes as the backend spooled them."""
    if data.startswith(b"\x1b%-12345X@PJL JOB NAME="):  # the backend's own PDF envelope
        start = data.find(b"@PJL ENTER LANGUAGE=PDF\n")
        data = data[start + len(b"@PJL ENTER LANGUAGE=PDF\n"):] if start >= 0 else data
    header, rest = split_pjl_header(data)
    language = page_language(rest)
    if language in ("PCL XL", "PCL 5", "raster"):
        # The printer does what the page language's own commands say; PJL sets its defaults.
        reader = {"PCL XL": pclxl_read, "PCL 5": pcl5_read, "raster": raster_read}[language]
        pages, sides, drew_colour = reader(rest)
        color, duplex = fold(header, True)
        if not drew_colour:
            color = "Grayscale"
        return (color, sides or duplex, impressions(pages, header), language,
                "%s commands and the PJL header" % language, [])
    if language == "PostScript":
        chosen = re.findall(rb"^%%BeginFeature:\s*\*(\S+)[ \t]*(\S*)", rest, re.M)
        chosen = [(k.decode("latin-1"), c.decode("latin-1")) for k, c in chosen]
        events = header + postscript_events(rest[rest.find(b"%!PS"):], work)
        pages = [None if e[2] == "-" else int(e[2]) for e in events if e[0] == "PAGE"]
        how = "PostScript run by Ghostscript"
    else:
        # PDF carries no code: the options the job chose, else the PPD's defaults, say what the
        # driver told the device.
        chosen = []
        for keyword, option in ppd["options"].items():
            chosen.append((keyword, options.get(keyword, option["default"])))
        events = header + [e for k, c in chosen for e in choice_events(ppd, k, c)]
        pages = pdf_pages(rest, work) if language == "PDF" else []
        how = "PPD code of the chosen options (%s)" % language
    color, duplex = fold(events, ppd["color"])
    # Code that did not run here (the vendor's own operators and status keys): the vendor's words
    # for the chosen choices stand in for it, unless code that ran decided.
    said = {}
    for keyword, choice in chosen:
        option = ppd["options"].get(keyword)
        for name, text, code in option["choices"] if option else []:
            for kind in ("grey", "duplex"):
                meaning = named(option, name, text, kind) if name == choice else None
                if meaning:
                    said[kind] = meaning
    if not any(e[1] in COLOUR_KEYS for e in events) and said.get("grey"):
        color, how = said["grey"], how + "; colour from the vendor's words"
    if not any(e[1] in ("Duplex", "DUPLEX") for e in events) and said.get("duplex"):
        duplex, how = said["duplex"], how + "; sides from the vendor's words"
    return (color, duplex, impressions(pages, events), language, how,
            opaque_choices(ppd, chosen))


def opaque_choices(ppd, chosen):
    """The chosen colour modes (options offering a grey and a colour choice) and sides options
    whose code sets nothing the backend reads."""
    opaque = []
    for keyword, choice in chosen:
        option = ppd["options"].get(keyword)
        if not option:
            continue
        label = (keyword + " " + option["text"]).lower()
        words = [set(re.findall(r"[a-z0-9]+", (n + " " + t).lower())) for n, t, _ in
                 option["choices"]]
        colour_mode = any(w & {"gray", "grey", "grayscale", "mono", "monochrome", "black", "bw"}
                          for w in words) and any(w & {"color", "colour", "cmyk", "rgb"}
                                                  for w in words)
        if not colour_mode and not any(w in label for w in ("duplex", "2-sided", "two-sided")):
            continue
        for name, _, code in option["choices"]:
            if name == choice and code.strip() and not code_events(code):
                opaque.append("%s %s" % (keyword, choice))
    return opaque


def choice_events(ppd, keyword, choice):
    for name, _, code in ppd["options"].get(keyword, {"choices": []})["choices"]:
        if name == choice:
            return code_events(code)
    return []


# ---- A private scheduler.

def start_scheduler(root, backend):
    for sub in ("bin/backend", "bin/filter", "bin/daemon", "cache", "log", "spool/temp"):
        os.makedirs(os.path.join(root, sub), exist_ok=True)
    for name in os.listdir(FILTERS):
        target = os.path.join(root, "bin/filter", name)
        if not os.path.lexists(target):
            os.symlink(os.path.join(FILTERS, name), target)
    link = os.path.join(root, "bin/daemon/cups-exec")
    if not os.path.lexists(link):
        os.symlink("/usr/lib/cups/daemon/cups-exec", link)
    installed = os.path.join(root, "bin/backend/virtual-printer")
    shutil.copy(backend, installed)
    os.chmod(installed, 0o700)
    with open(os.path.join(root, "cups-files.conf"), "w") as conf:
        for key, value in (("ServerRoot", root), ("StateDir", root), ("ServerBin", root + "/bin"),
                           ("CacheDir", root + "/cache"), ("DataDir", "/usr/share/cups"),
                           ("RequestRoot", root + "/spool"), ("TempDir", root + "/spool/temp"),
                           ("AccessLog", root + "/log/access_log"),
                           ("ErrorLog", root + "/log/error_log"),
                           ("PageLog", root + "/log/page_log"), ("Printcap", root + "/printcap")):
            conf.write("%s %s\n" % (key, value))
    with open(os.path.join(root, "cupsd.conf"), "w") as conf:
        conf.write("LogLevel warn\nListen %s/sock\nBrowsing Off\nWebInterface No\n"
                   "ErrorPolicy abort-job\n<Location />\n  Order allow,deny\n</Location>\n" % root)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=False)
    cupsd = subprocess.Popen(["cupsd", "-f", "-c", root + "/cupsd.conf", "-s",
                              root + "/cups-files.conf"])
    os.environ["CUPS_SERVER"] = root + "/sock"
    for _ in range(200):
        if os.path.exists(root + "/sock"):
            break
        time.sleep(0.05)
    time.sleep(0.2)
    return cupsd


def quiet(*argv):
    return subprocess.run(list(argv), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          universal_newlines=True)


def print_and_wait(document, arguments, uuid):
    submitted = quiet("lp", "-d", "q", "-o", "job-uuid=urn:uuid:" + uuid, *arguments, document)
    match = re.search(r"request id is q-(\d+)", submitted.stdout)
    if not match:
        return "lp: " + submitted.stdout.strip()
    deadline = time.time() + 120
    while time.time() < deadline:
        state = quiet("lpstat", "-p", "q").stdout
        queued = quiet("lpstat", "-o", "q").stdout
        if "disabled" in state or ("q-%s " % match.group(1)) not in queued:
            break
        time.sleep(0.1)
    quiet("cancel", "-a", "q")
    quiet("cupsenable", "q")
    return ""


def make_document(path):
    """A four-page colour PDF."""
    source = path + ".ps"
    with open(source, "w") as out:
        out.write("%!PS\n")
        for colour in ("1 0 0", "0 0 1", "0 1 0", "1 0 1"):
            out.write("%s setrgbcolor 72 72 200 200 rectfill showpage\n" % colour)
    subprocess.run(["gs", "-q", "-sDEVICE=pdfwrite", "-o", path, source], check=True)


def run(args):
    if os.getpid() != 1:
        os.execvp("unshare", ["unshare", "--mount", "--net", "--pid", "--fork", "--kill-child",
                              "--mount-proc", sys.executable] + sys.argv)
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    document = os.path.join(work, "document.pdf")
    make_document(document)
    cupsd = start_scheduler(os.path.join(work, "cups"), args.backend)
    results = []
    count = 0
    try:
        for line in open(args.sample):
            vendor, uri = line.rstrip("\n").split("\t")
            path = os.path.join(args.ppd_dir, uri.rsplit("/", 1)[1])
            ppd = read_ppd(path)
            added = quiet("lpadmin", "-p", "q", "-E", "-v", "virtual-printer:/", "-P", path)
            if added.returncode != 0:
                results.append({"vendor": vendor, "ppd": uri, "error": added.stdout})
                continue
            for kind, arguments in jobs_for(ppd):
                count += 1
                uuid = "00000000-0000-4000-8000-%012d" % count
                error = print_and_wait(document, arguments, uuid)
                control = {}
                data_file = ""
                try:
                    for entry in open(os.path.join(args.log_dir, uuid + ".ctl")):
                        key, _, value = entry.rstrip("\n").partition(":")
                        control[key] = value
                    data_file = control.get("DataFile", "")
                    data = open(os.path.join(args.log_dir, data_file), "rb").read()
                except OSError as failure:
                    error = error or "no control or data file: %s" % failure
                    data = b""
                options = dict(a.split("=", 1) for a in arguments if "=" in a)
                judged = device_does(ppd, data, options, work) if data else (
                    "", "", 0, "", "", [])
                results.append({"vendor": vendor, "ppd": uri, "language": ppd["language"],
                                "job": kind, "options": " ".join(arguments[1::2]),
                                "reported": reported(control), "data": os.path.splitext(
                                    data_file)[1], "error": error})
                judge(results[-1], judged)
                print("%-18s %-50s %-8s %-34s reported %-26s device %s" % (
                    vendor, uri.rsplit("/", 1)[1], kind, results[-1]["options"],
                    "/".join(map(str, results[-1]["reported"])),
                    "/".join(map(str, results[-1]["device"]))), flush=True)
            quiet("lpadmin", "-x", "q")
    finally:
        cupsd.terminate()
        cupsd.wait()
    with open(args.out, "w") as out:
        json.dump(results, out, indent=1)


def reported(control):
    """[colour, sides, impressions] of a control file; impressions are pages times copies, empty
    when either is missing."""
    pages, copies = control.get("AllPage", ""), control.get("CopyCount", "")
    count = int(pages) * int(copies) if pages.isdigit() and copies.isdigit() else ""
    return [control.get("Color", ""), control.get("Duplexing", ""), count]


def judge(result, judged):
    color, duplex, count, language, how, opaque = judged
    result.update({"device": [color, duplex, count], "pdl": language, "oracle": how,
                   "opaque": opaque})


def rejudge(args):
    """Judges the jobs of an earlier run again from the files it left (after a change of the
    judge, so that both runs are judged alike)."""
    results = json.load(open(args.results))
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    count = 0
    for r in results:
        if "job" not in r:
            continue
        count += 1
        uuid = "00000000-0000-4000-8000-%012d" % count
        path = os.path.join(args.log_dir, uuid + r["data"]) if r["data"] else ""
        if not path or not os.path.exists(path):
            continue
        ppd = read_ppd(os.path.join(args.ppd_dir, r["ppd"].rsplit("/", 1)[1]))
        arguments = r["options"].split()
        options = dict(a.split("=", 1) for a in arguments if "=" in a)
        judge(r, device_does(ppd, open(path, "rb").read(), options, work))
    with open(args.results, "w") as out:
        json.dump(results, out, indent=1)


def extract(args):
    """Writes the sample's PPDs into the PPD folder: a driver program's, CUPS's own compiled
    drivers (drv:) or one of ours (file:, beside this script)."""
    os.makedirs(args.ppd_dir, exist_ok=True)
    for line in open(args.sample):
        _, uri = line.rstrip("\n").split("\t")
        path = os.path.join(args.ppd_dir, uri.rsplit("/", 1)[1])
        if os.path.exists(path) and os.path.getsize(path) > 0:
            continue
        if uri.startswith("file:"):
            shutil.copy(os.path.join(HERE, uri[len("file:"):]), path)
            continue
        driver = "/usr/lib/cups/daemon/cups-driverd" if uri.startswith("drv:") else (
            "/usr/lib/cups/driver/" + uri.split(":", 1)[0])
        with open(path, "wb") as out:
            subprocess.run([driver, "cat", uri], stdout=out, check=True)


# ---- The table.

FIELDS = (("color", "Colour"), ("duplex", "Sides"), ("impressions", "Impressions"),
          ("all", "All three"))


def tally(results, key):
    table = collections.OrderedDict()
    for r in results:
        if "job" not in r:
            continue
        row = table.setdefault(key(r), collections.Counter())
        row["jobs"] += 1
        for index, (field, _) in enumerate(FIELDS[:3]):
            row[field] += r["reported"][index] == r["device"][index]
        row["all"] += r["reported"] == r["device"]
    return table


def percent(part, whole):
    return "%d%%" % round(100.0 * part / whole) if whole else "-"


def comparison(before, after, key, title):
    """A table of the share of right jobs, before and after, with a total row."""
    tb, ta = tally(before, key), tally(after, key)
    lines = ["| %s | Jobs | " % title + " | ".join(
        "%s before | %s after" % (label, label) for _, label in FIELDS) + " |",
        "|---|---|" + "---|---|" * len(FIELDS)]
    total_b, total_a = collections.Counter(), collections.Counter()
    for name, row in ta.items():
        rb = tb.get(name, collections.Counter())
        total_b.update(rb)
        total_a.update(row)
        lines.append("| %s | %d | " % (name, row["jobs"]) + " | ".join(
            "%s | %s" % (percent(rb[f], rb["jobs"]), percent(row[f], row["jobs"]))
            for f, _ in FIELDS) + " |")
    lines.append("| **All** | %d | " % total_a["jobs"] + " | ".join(
        "%s | %s" % (percent(total_b[f], total_b["jobs"]), percent(total_a[f], total_a["jobs"]))
        for f, _ in FIELDS) + " |")
    return lines, total_a


def shown(values):
    return "/".join(str(v) for v in values)


def report(args):
    before = json.load(open(args.before))
    after = json.load(open(args.after))
    by_vendor, total = comparison(before, after, lambda r: r["vendor"], "Vendor")
    by_language, _ = comparison(before, after, lambda r: r.get("pdl") or "none", "Page language")
    lines = [
        "# Driver coverage",
        "",
        "Written by `bench/drivers.sh`. A fixed sample of %d PPDs" % len(
            {r["ppd"] for r in after}),
        "(`bench/drivers/sample.txt`): vendor PPDs of Debian's openprinting-ppds and",
        "printer-driver-postscript-hp (up to three of every vendor name the two packages list,",
        "colour PPDs first, six of HP), more of their PCL XL and PCL 5 drivers, the PCL and PWG",
        "raster drivers CUPS and cups-filters compile (`drv:`), and a queue that hands CUPS raster",
        "to the backend (`bench/drivers/ppd/`). Each is printed through CUPS's own filters by a",
        "private scheduler with a four-page colour PDF seven times: with the PPD's defaults, with",
        "its own two-sided choice, with its own grey choice (the option words of the PPD;",
        "`sides`/`print-color-mode` where it has none), with 3 copies, with 2 collated copies,",
        "2-up and with the page range 2-3; a colour device's queue prints it an eighth time with",
        "`print-color-mode=color`, since CUPS gives some colour queues a grey default.",
        "",
        "A job counts as right when the colour, the sides and the impressions (pages times",
        "copies) of its control file are what the data makes the device do. The truth is read",
        "from the data the printer gets: Ghostscript runs the job's PostScript with setpagedevice",
        "and every transmitted page watched; PCL XL, PCL 5 and raster are read command by command",
        "and header by header by the judge's own readers; PJL settings come from the job's PJL",
        "header and from PJL written into the PostScript; PDF pages are counted by poppler's",
        "`pdfinfo`, and PDF colour and sides come from the code of the chosen PPD choices. Where",
        "that code cannot run here, the words of the chosen choice decide; with nothing saying",
        "anything the device prints one-sided, in colour when the PPD says it is a colour device",
        "and the data draws in colour. A page language's own copies of a page replace PJL's",
        "`COPIES`, and PJL's `QTY` repeats the whole job. `bench/drivers/coverage.py` holds the",
        "judge.",
        "",
        "Before: the backend at %s, before it read the page languages. After: the code these"
        % args.before_ref,
        "figures were taken from.",
        "",
    ] + by_vendor + ["", "By the page language the backend received:", ""] + by_language + [
        "", "Right in all three after: %d of %d jobs (%s)." % (
            total["all"], total["jobs"], percent(total["all"], total["jobs"])), ""]
    wrong = [r for r in after if "job" in r and r["reported"] != r["device"]]
    lines += ["## Jobs still reported wrong", "",
              "Colour/sides/impressions; an empty value is a field the backend left empty.", ""]
    if not wrong:
        lines.append("None.")
    else:
        lines += ["| Vendor | PPD | Job | Options | Reported | Device |", "|---|---|---|---|---|---|"]
        for r in wrong:
            lines.append("| %s | %s | %s | %s | %s | %s |" % (
                r["vendor"], r["ppd"].rsplit("/", 1)[1], r["job"], r["options"] or "(defaults)",
                r["error"] or shown(r["reported"]), shown(r["device"])))
    opaque = collections.OrderedDict()
    for r in after:
        for choice in r.get("opaque", []):
            opaque.setdefault(r["vendor"], collections.Counter())[choice.split()[0]] += 1
    lines += ["", "## Colour and sides options whose code the PPD reading cannot decide", "",
              "Colour modes (options offering a grey and a colour choice) and sides options that",
              "the sample's jobs chose and whose chosen code sets nothing the backend reads (a",
              "vendor's own operators or page-device keys, foomatic's option comments, or PJL it",
              "does not know), with the number of jobs:", ""]
    for vendor, options in opaque.items():
        lines.append("- %s: %s" % (vendor, ", ".join(
            "`%s` (%d)" % (k, n) for k, n in sorted(options.items()))))
    if os.path.exists(os.path.join(HERE, "notes.md")):
        lines += ["", open(os.path.join(HERE, "notes.md")).read().rstrip("\n")]
    with open(args.out, "w") as out:
        out.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    r = sub.add_parser("run")
    r.add_argument("--backend", required=True)
    r.add_argument("--log-dir", required=True)
    r.add_argument("--ppd-dir", required=True)
    r.add_argument("--sample", required=True)
    r.add_argument("--work", required=True)
    r.add_argument("--out", required=True)
    j = sub.add_parser("rejudge")
    j.add_argument("--results", required=True)
    j.add_argument("--log-dir", required=True)
    j.add_argument("--ppd-dir", required=True)
    j.add_argument("--work", required=True)
    e = sub.add_parser("extract")
    e.add_argument("--sample", required=True)
    e.add_argument("--ppd-dir", required=True)
    p = sub.add_parser("report")
    p.add_argument("--before", required=True)
    p.add_argument("--after", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--before-ref", required=True)
    args = parser.parse_args()
    {"run": run, "rejudge": rejudge, "extract": extract, "report": report}[args.command](args)


if __name__ == "__main__":
    main()
