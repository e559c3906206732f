"""The C and C++ surfaces: the shared records, the C declarations and wrappers, the CorvaneCxx.h
wrappers, the .def export list and the binary-interface list of the C++ exports."""
import re

from model import C_TYPES, banner, c_banner, count_name

PUBLIC = "src/Logical/Corvane/public/"


def records_header(model):
    out = [banner("//"),
           "// The records of the C++ interface, declared once for Corvane.h (namespace Corvane) and",
           "// CorvaneCxx.h (namespace Corvane::OverC): each includes this file inside its namespace,",
           "// after <string> and <vector>.",
           "#ifndef CORVANE_CORVANERECORDS_H", "#define CORVANE_CORVANERECORDS_H", ""]
    for record in model.records.values():
        out.append(f"// {record['doc']}")
        out.append(f"struct {record['name']} {{")
        for field in record["fields"]:
            default = f" = {field['default']}" if "default" in field else ""
            comment = f"  // {field['comment']}" if "comment" in field else ""
            out.append(f"  {field['type']} {field['name']}{default};{comment}")
        out += ["};", ""]
    out.append("#endif  // CORVANE_CORVANERECORDS_H")
    return "\n".join(out) + "\n"


def c_field_lines(record):
    lines = []
    for field in record["fields"]:
        comment = f" /* {field['comment']} */" if "comment" in field else ""
        kind = field["kind"]
        if kind.startswith("list:"):
            count = field["name"][:-1] + "Count"
            lines.append(f"  const {kind[5:]}* {field['name']}; /* {count} records; NULL when none */")
            lines.append(f"  int32_t {count};")
        elif kind == "bytes":
            lines.append(f"  const unsigned char* {field['name']};{comment}")
        else:
            lines.append(f"  {C_TYPES[kind]} {field['name']};{comment}")
    return lines


def c_header(model):
    out = [c_banner(),
           "/* The records and operations of the C interface, included by CorvaneC.h inside its",
           " * extern \"C\" block; CorvaneC.h says what every function promises. */",
           "#ifndef CORVANE_CORVANECOPS_H", "#define CORVANE_CORVANECOPS_H", ""]
    for record in model.c_records.values():
        if "comment" in record:
            out.append(f"/* {record['comment']} */")
        out.append(f"typedef struct {record['name']} {{")
        out += c_field_lines(record)
        out += [f"}} {record['name']};", ""]
    for op in model.operations:
        if "c_doc" in op:
            out.append(f"/* {op['c_doc']} */")
        params = ", ".join(f"{t} {n}" for t, n in model.c_params(op))
        out.append(f"CORVANE_API int {op['c']}({params});")
        out.append("")
    out.append("#endif /* CORVANE_CORVANECOPS_H */")
    return "\n".join(out) + "\n"


# ------------------------------------------------------------------------ the C wrappers


def packed_converter(record):
    """Packed(packer, from): one C record from its C++ record, its texts in the packer's block."""
    source = record["from"]
    if source.startswith("std::map<"):
        cxx = "std::pair<const int, " + source[len("std::map<int, "):-1] + ">"
    else:
        cxx = "Corvane::" + source
    uses_packer = any(f["kind"] == "text" or f["kind"].startswith("list:")
                      for f in record["fields"])
    packer = "Packer& packer" if uses_packer else "Packer&"
    out = [f"{record['name']} Packed({packer}, const {cxx}& from) {{"]
    values = []
    for field in record["fields"]:
        member = "from." + field.get("source", field["name"])
        name = field["name"]
        kind = field["kind"]
        if kind == "text":
            out.append(f"  const char* {name} = packer.Text({member});")
            values.append(name)
        elif kind.startswith("list:"):
            out.append(f"  auto* {name} = packer.Records<{kind[5:]}>({member}.size());")
            out.append(f"  for (std::size_t i = 0; i < {member}.size(); ++i) {{")
            out.append(f"    Packer::Put({name}, i, Packed(packer, {member}[i]));")
            out.append("  }")
            values += [name, f"static_cast<int32_t>({member}.size())"]
        else:
            values.append(member)
    out.append(f"  return {record['name']}{{{', '.join(values)}}};")
    out.append("}")
    return "\n".join(out)


def null_checks(model, op, outputs):
    """The first lines of a wrapper: outputs reset, null and count arguments refused."""
    texts = [i["name"] for i in model.inputs(op) if i["type"] == "text"]
    lists = [i["name"] for i in model.inputs(op) if i["type"] == "text_list"]
    tests = ([f"!Reset({', '.join(outputs)})"] if outputs else []) + \
        [f"{t} == nullptr" for t in texts] + \
        [f"({n} == nullptr && {count_name(n)} > 0)" for n in lists]
    out = []
    if tests and lists:
        out += [f"  if ({' || '.join(tests)}) {{", "    return Refused(CORVANE_E_NULL_ARGUMENT);",
                "  }"]
    elif tests:
        out.append(f"  if ({' || '.join(tests)}) return Refused(CORVANE_E_NULL_ARGUMENT);")
    for name in lists:
        count = count_name(name)
        out += [f"  if ({count} < 0) return Refused(CORVANE_E_COUNT);",
                f"  for (int32_t i = 0; i < {count}; ++i) {{",
                f"    if ({name}[i] == nullptr) return Refused(CORVANE_E_NULL_ARGUMENT);", "  }"]
    return out


def cxx_call(model, op, output_expr):
    """The C++ operation's call inside a C wrapper."""
    args = []
    inputs = {i["name"]: i for i in model.inputs(op)}
    request = model.request_record(op)
    for ptype, pname in op["cxx_params"]:
        if request and pname == request[0]:
            fields = [f["name"] if f["name"] in inputs or f["name"] == "handle" else "{}"
                      for f in request[1]["fields"]]
            args.append("{" + ", ".join(fields) + "}")
        elif pname == "handle" or pname in inputs:
            args.append(pname + ("Texts" if inputs.get(pname, {}).get("type") == "text_list"
                                 else ""))
        else:
            args.append(output_expr)
    return f"Corvane::{op['cxx']}({', '.join(args)})"


def c_wrapper(model, op):
    params = ", ".join(f"{t} {n}" for t, n in model.c_params(op))
    kind = op["kind"]
    out = [f"int {op['c']}({params}) {{"]
    outputs = [n for t, n in model.c_params(op) if t.endswith("*") and n not in
               [i["name"] for i in model.inputs(op)]]
    out += null_checks(model, op, outputs)
    body = []
    for item in model.inputs(op):
        if item["type"] == "text_list":
            name = item["name"]
            body.append(f"const std::vector<std::string> {name}Texts({name}, {name} + "
                        f"{count_name(name)});")
    if kind == "value" and op["output"]["type"] == "int":
        out.append(f"  return Guarded([&] {{ return {cxx_call(model, op, '*' + outputs[0])}; }});")
        out.append("}")
        return "\n".join(out)
    if kind == "value":
        body += ["bool value = false;", f"const int status = {cxx_call(model, op, 'value')};",
                 f"*{outputs[0]} = value ? 1 : 0;", "return status;"]
    elif kind in ("list", "map"):
        record = model.output_record(op)
        source = record["from"] if kind == "map" else "std::vector<Corvane::" + record["from"] + ">"
        body += [f"{source} list;", f"const int status = {cxx_call(model, op, 'list')};",
                 f"return PackList(status, list, {outputs[0]}, count, "
                 "[](Packer& packer, const auto& item) { return Packed(packer, item); });"]
    elif kind == "none":
        param = [p for p in op["cxx_params"] if p[1] != "handle"][0]
        rec_name = re.fullmatch(r"const (\w+)&", param[0]).group(1)
        body.append(f"Corvane::{rec_name} {param[1]};")
        body += [f"{param[1]}.{i['name']} = {i['name']};" for i in model.inputs(op)]
        call = f"Corvane::{op['cxx']}(" + ", ".join(p[1] for p in op["cxx_params"]) + ")"
        body.append(f"return {call};")
    elif kind == "fields":
        result = op["result"]["cxx"]
        body += [f"Corvane::{result} result;",
                 f"const int status = {cxx_call(model, op, 'result')};"]
        body += [f"*{o['name']} = result.{o['name']};" for o in op["outputs"]]
        body.append("return status;")
    elif kind == "optional_record":
        record = model.output_record(op)
        text_field, int_field = op["output"]["unset"]
        body += ["// The operation overwrites every field when the answer carries a record and "
                 "nothing",
                 "// otherwise; a record no answer can produce (a lone NUL as text, INT_MIN) "
                 "tells them apart.",
                 f"Corvane::{record['from']} info;",
                 f"info.{text_field}.assign(1, '\\0');",
                 f"info.{int_field} = INT_MIN;",
                 f"const int status = {cxx_call(model, op, 'info')};",
                 f"if (info.{text_field}.size() == 1 && info.{text_field}[0] == '\\0' && "
                 f"info.{int_field} == INT_MIN) {{",
                 "  return status;", "}",
                 f"Pack({outputs[0]}, [&](Packer& packer) {{",
                 f"  {record['name']}* record = packer.Records<{record['name']}>(1);",
                 "  Packer::Put(record, 0, Packed(packer, info));", "});",
                 "return status;"]
    elif kind == "picture":
        record = model.output_record(op)
        out_name = outputs[0]
        body += ["Corvane::DownloadDevicePicResp result;",
                 f"const int status = {cxx_call(model, op, 'result')};",
                 "const std::unique_ptr<char[]> data(result.pictureData);  "
                 "// the caller's new[] buffer",
                 "if (data == nullptr) return status;  // no picture was written",
                 f"Pack({out_name}, [&](Packer& packer) {{",
                 f"  {record['name']}* record = packer.Records<{record['name']}>(1);",
                 "  const char* bytes = packer.Bytes(data.get(), "
                 "static_cast<std::size_t>(result.pictureLength));",
                 "  Packer::Put(record, 0, {result.tag, result.pictureLength, "
                 "reinterpret_cast<const unsigned char*>(bytes)});",
                 "});", "return status;"]
    out.append("  return Guarded([&] {")
    out += ["    " + line for line in body]
    out += ["  });", "}"]
    return "\n".join(out)


def c_wrappers(model):
    out = [banner("//"),
           "// The C functions of the operations (CorvaneC.h), included at the end of CorvaneC.cpp,",
           "// whose helpers (Reset, Guarded, Packer, Pack, PackList) they use: each checks its",
           "// pointers, runs the C++ operation inside Guarded and packs its results into one block.",
           "#ifndef CORVANE_CORVANECWRAPPERS_GEN_H", "#define CORVANE_CORVANECWRAPPERS_GEN_H", "",
           "namespace {", ""]
    for record in model.c_records.values():
        if "from" in record:
            out += [packed_converter(record), ""]
    out += ["}  // namespace", "", 'extern "C" {', ""]
    for op in model.operations:
        out += [c_wrapper(model, op), ""]
    out += ['}  // extern "C"', "", "#endif  // CORVANE_CORVANECWRAPPERS_GEN_H"]
    return "\n".join(out) + "\n"


# ------------------------------------------------------------------------ CorvaneCxx.h


def unpacked_converter(model, record):
    """detail::Unpacked(from): the C++ record of a C record, its texts copied."""
    cxx = record["from"]
    out = [f"inline {cxx} Unpacked(const {record['name']}& from) {{", f"  {cxx} to;"]
    for field in record["fields"]:
        name, kind = field["name"], field["kind"]
        if kind == "text":
            out.append(f"  to.{name} = Text(from.{name});")
        elif kind.startswith("list:"):
            count = name[:-1] + "Count"
            out.append(f"  for (int32_t i = 0; i < from.{count}; ++i) {{")
            out.append(f"    to.{name}.push_back(Unpacked(from.{name}[i]));")
            out.append("  }")
        else:
            out.append(f"  to.{name} = from.{name};")
    out += ["  return to;", "}"]
    return "\n".join(out)


def c_arguments(model, op):
    """The C function's arguments as the C++-over-C wrapper passes its own parameters."""
    request = model.request_record(op)
    direct = {name for _, name in op["cxx_params"]}
    prefix = ""
    if request and "handle" not in direct:
        prefix = request[0] + "."
    args = ["handle" if "handle" in direct else prefix + "handle"]
    for item in model.inputs(op):
        name = item["name"]
        source = name if name in direct else request[0] + "." + name
        if item["type"] == "text":
            args.append(source + ".c_str()")
        elif item["type"] == "text_list":
            args += ["texts.empty() ? nullptr : texts.data()",
                     "static_cast<int32_t>(texts.size())"]
        else:
            args.append(source)
    return args


def cxx_wrapper(model, op):
    params = ", ".join(f"{t} {n}" for t, n in op["cxx_params"])
    kind = op["kind"]
    args = c_arguments(model, op)
    out = [f"inline int {op['cxx']}({params}) {{"]
    for item in model.inputs(op):
        if item["type"] == "text_list":
            name = item["name"]
            out += ["  std::vector<const char*> texts;", f"  texts.reserve({name}.size());",
                    f"  for (const std::string& text : {name}) texts.push_back(text.c_str());"]
    outputs = [n for t, n in op["cxx_params"] if t.endswith("&") and not t.startswith("const")]
    if kind == "value":
        convert = "value != 0" if op["output"]["type"] == "bool" else "value"
        out += ["  int32_t value = 0;",
                f"  const int status = detail::Checked({op['c']}({', '.join(args + ['&value'])}));",
                f"  if (detail::AnswerRead()) {outputs[0]} = {convert};"]
    elif kind in ("list", "map", "picture", "optional_record"):
        record = model.output_record(op)
        out.append(f"  detail::Result<{record['name']}> got;")
        more = ["&got.records"] + (["&got.count"] if kind in ("list", "map") else [])
        out.append(f"  const int status = detail::Checked({op['c']}({', '.join(args + more)}));")
        if kind == "list":
            out += ["  for (int32_t i = 0; i < got.count; ++i) {",
                    f"    {outputs[0]}.push_back(detail::Unpacked(got.records[i]));", "  }"]
        elif kind == "map":
            key, value = record["fields"]
            read = f"got.records[i].{value['name']}"
            if value["kind"] == "text":
                read = f"detail::Text({read})"
            out.append(f"  for (int32_t i = 0; i < got.count; ++i) "
                       f"{outputs[0]}[got.records[i].{key['name']}] = {read};")
        elif kind == "optional_record":
            out.append(f"  if (got.records != nullptr) {outputs[0]} = "
                       "detail::Unpacked(*got.records);")
        else:
            out += ["  if (got.records != nullptr) {",
                    "    const std::size_t length = "
                    "static_cast<std::size_t>(got.records->pictureLength);",
                    "    char* data = new char[length];",
                    "    if (length > 0) std::memcpy(data, got.records->pictureData, length);",
                    f"    {outputs[0]}.pictureData = data;",
                    f"    {outputs[0]}.pictureLength = got.records->pictureLength;",
                    f"    {outputs[0]}.tag = got.records->tag;", "  }"]
    elif kind == "none":
        out.append(f"  return detail::Checked({op['c']}({', '.join(args)}));")
        out.append("}")
        return "\n".join(out)
    elif kind == "fields":
        names = [o["name"] for o in op["outputs"]]
        out += [f"  {C_TYPES[o['type']]} {o['name']} = 0;" for o in op["outputs"]]
        out.append(f"  const int status = detail::Checked("
                   f"{op['c']}({', '.join(args + ['&' + n for n in names])}));")
        out.append(f"  if (detail::AnswerRead()) {outputs[0]} = {{{', '.join(names)}}};")
    out += ["  return status;", "}"]
    return "\n".join(out)


def cxx_header(model):
    out = [banner("//"),
           "// The operations of CorvaneCxx.h, inline over the C interface: included by CorvaneCxx.h",
           "// inside namespace Corvane::OverC, after the records and the detail helpers.",
           "#ifndef CORVANE_CORVANECXXOPS_H", "#define CORVANE_CORVANECXXOPS_H", "",
           "namespace detail {", ""]
    for record in model.c_records.values():
        if "from" in record and not record["from"].startswith("std::"):
            out += [unpacked_converter(model, record), ""]
    out += ["}  // namespace detail", ""]
    for op in model.operations:
        out += [cxx_wrapper(model, op), ""]
    out.append("#endif  // CORVANE_CORVANECXXOPS_H")
    return "\n".join(out) + "\n"


# ------------------------------------------------------------------------ export lists


def def_file(model):
    out = [banner(";"),
           "; The C interface of Corvane.dll (CorvaneC.h): the names the MSVC-style import library",
           "; Corvane.lib is made from (llvm-dlltool, cmake/WindowsBuild.cmake). windows.binary_interface",
           "; checks that the DLL exports exactly these C names.",
           "LIBRARY Corvane.dll", "EXPORTS"]
    out += ["  " + name for name in model.c_exports()]
    return "\n".join(out) + "\n"


STD_STRING = "std::string"
FIXED_CXX = [
    ("_ZN7Corvane12SetLangauageENSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
     "Corvane::SetLangauage(std::string)"),
    ("_ZN7Corvane13SetMacAddressENSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
     "Corvane::SetMacAddress(std::string)"),
    ("_ZN7Corvane11SetTimeZoneENSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
     "Corvane::SetTimeZone(std::string)"),
    ("_ZN7Corvane11SetLanguageENSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
     "Corvane::SetLanguage(std::string)"),
]
FIXED_CXX_END = [
    ("_ZN7Corvane17LastServerMessageB5cxx11Ev", "Corvane::LastServerMessage[abi:cxx11]()"),
    ("_ZN7Corvane12ErrorMessageB5cxx11Ei", "Corvane::ErrorMessage[abi:cxx11](int)"),
]


def demangled_type(model, ptype):
    """A C++ parameter type as c++filt writes it (std::string kept short)."""
    const = ptype.startswith("const ")
    ref = ptype.endswith("&")
    core = ptype[6 if const else 0:-1 if ref else None]

    def spell(t):
        t = t.strip()
        if t in model.records:
            return "Corvane::" + t
        match = re.fullmatch(r"std::vector<(.+)>", t)
        if match:
            inner = spell(match.group(1))
            return f"std::vector<{inner}, std::allocator<{inner}{' ' if inner.endswith('>') or inner == STD_STRING else ''}> >"
        match = re.fullmatch(r"std::map<int, (.+)>", t)
        if match:
            inner = spell(match.group(1))
            space = " " if inner == STD_STRING else ""
            return (f"std::map<int, {inner}, std::less<int>, "
                    f"std::allocator<std::pair<int const, {inner}{space}> > >")
        return t

    return spell(core) + (" const" if const else "") + ("&" if ref else "")


def abi_list(model):
    out = [banner("#"),
           "# The C++ exports of Corvane.dll: <MinGW (Itanium ABI) name>|<the signature it demangles to>.",
           "# tests/windows/check-binary-interface.sh reads it."]
    rows = list(FIXED_CXX)
    for op in model.operations:
        params = ", ".join(demangled_type(model, t) for t, _ in op["cxx_params"])
        rows.append((op["cxx_symbol"], f"Corvane::{op['cxx']}({params})"))
    rows += FIXED_CXX_END
    out += [f"{mangled}|{signature}" for mangled, signature in rows]
    return "\n".join(out) + "\n"
