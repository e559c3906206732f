"""The C# package's generated files: Native.g.cs (the P/Invoke records and declarations of the
operations), Records.g.cs (the public records) and CorvaneOperations.g.cs (the operations'
methods)."""
from model import banner, pascal

NATIVE_FIELD = {"text": "IntPtr", "i32": "int", "i64": "long", "bytes": "IntPtr"}
PUBLIC_FIELD = {"text": "string", "i32": "int", "i64": "long", "bytes": "byte[]"}
PARAM = {"int": "int", "const char*": "byte[]", "int32_t": "int", "int64_t": "long",
         "int32_t*": "out int", "int64_t*": "out long", "const char* const*": "IntPtr[]"}
INPUT = {"text": "string", "i32": "int", "i64": "long", "text_list": "IEnumerable<string>"}


def field_name(record, name):
    """The P/Invoke field of a C field: PascalCase, with "_" when it would be the struct's name."""
    name = pascal(name)
    return name + "_" if name == record["cs"] else name


def wrap(lines, indent):
    return [(" " * indent + line) if line else "" for line in lines]


def native(model):
    out = []
    for record in model.c_records.values():
        out += ["[StructLayout(LayoutKind.Sequential)]", f"internal struct {record['cs']}", "{"]
        for field in record["fields"]:
            kind = field["kind"]
            if kind.startswith("list:"):
                out.append(f"    public IntPtr {field_name(record, field['name'])};")
                out.append(f"    public int {field_name(record, field['name'][:-1] + 'Count')};")
            else:
                out.append(f"    public {NATIVE_FIELD[kind]} {field_name(record, field['name'])};")
        out += ["}", ""]
    for op in model.operations:
        params = []
        for ctype, name in model.c_params(op):
            params.append(("out IntPtr" if ctype.endswith("**") else PARAM[ctype]) + " " + name)
        out.append("[DllImport(Library, CallingConvention = C)]")
        out.append(f"internal static extern int {op['c']}({', '.join(params)});")
    text = [banner("//").rstrip(),
            "// The P/Invoke records and declarations of the operations' C functions (CorvaneC.h);",
            "// Native.cs holds the rest of the class.",
            "using System;", "using System.Runtime.InteropServices;", "",
            "namespace Corvane", "{", "    internal static partial class Native", "    {"]
    text += wrap(out, 8)
    text += ["    }", "}"]
    return "\n".join(text).replace("\n\n    }", "\n    }") + "\n"


def public_records(model):
    """(class name, [(field, C# type, comment)]) of every public record."""
    records = []
    for record in model.c_records.values():
        if "cs_public" not in record:
            continue
        names = record.get("public_fields", [f["name"] for f in record["fields"]])
        fields = []
        for field in record["fields"]:
            if field["name"] not in names:
                continue
            kind = field["kind"]
            if kind.startswith("list:"):
                kind_type = f"IList<{model.c_record(kind[5:])['cs_public']}>"
            else:
                kind_type = PUBLIC_FIELD[kind]
            fields.append((field["name"], kind_type, None))
        records.append((record["cs_public"], fields))
    for op in model.operations:
        if op["kind"] == "fields":
            records.append((op["result"]["cs"],
                            [(o["name"], PUBLIC_FIELD[o["type"]], o.get("comment"))
                             for o in op["outputs"]]))
    return records


def records_file(model):
    out = []
    for name, fields in public_records(model):
        params = ", ".join(f"{t} {f}" for f, t, _ in fields)
        out += [f"public sealed class {name}", "{", f"    public {name}({params})", "    {"]
        out += [f"        {pascal(f)} = {f};" for f, _, _ in fields]
        out += ["    }", ""]
        for f, t, comment in fields:
            if comment:
                out.append(f"    /// <summary>{comment[0].upper() + comment[1:]}.</summary>")
            out.append(f"    public {t} {pascal(f)} {{ get; }}")
        out += ["}", ""]
    text = [banner("//").rstrip(), "// The records the operations return.",
            "using System.Collections.Generic;", "", "namespace Corvane", "{"]
    text += wrap(out[:-1], 4)
    text.append("}")
    return "\n".join(text) + "\n"


def converter(model, record):
    """From(native record): the public record, its texts copied while the block lives."""
    values = []
    names = record.get("public_fields", [f["name"] for f in record["fields"]])
    for field in record["fields"]:
        name, kind = field["name"], field["kind"]
        member = "r." + field_name(record, name)
        if name not in names:
            continue
        if kind == "text":
            values.append(f"Text({member})")
        elif kind == "bytes":
            values.append(f"Bytes({member}, r.{field_name(record, field['length'])})")
        elif kind.startswith("list:"):
            inner = model.c_record(kind[5:])
            values.append(f"Records({member}, r.{field_name(record, name[:-1] + 'Count')}, "
                          f"(Native.{inner['cs']} c) => From(c))")
        else:
            values.append(member)
    return [f"private static {record['cs_public']} From(Native.{record['cs']} r)", "{",
            f"    return new {record['cs_public']}({', '.join(values)});", "}", ""]


def arguments(model, op):
    """The public parameters (with defaults), their names, and the C arguments made of them."""
    params, names, args = [], [], []
    for item in model.inputs(op):
        name, kind = item["name"], item["type"]
        default = f" = {item['default']}" if "default" in item else ""
        params.append(f"{INPUT[kind]} {name}{default}")
        names.append(name)
        if kind == "text":
            args.append(f'Utf8({name}, "{name}")')
        elif kind == "text_list":
            args += ["ids.Count > 0 ? ids.ToArray() : null", "ids.Count"]
        else:
            args.append(name)
    return params, names, args


def result_type(model, op):
    kind = op["kind"]
    if kind == "value":
        return "bool" if op["output"]["type"] == "bool" else "int"
    if kind == "list":
        return f"IList<{model.output_record(op)['cs_public']}>"
    if kind == "map":
        return f"IDictionary<int, {PUBLIC_FIELD[model.output_record(op)['fields'][1]['kind']]}>"
    if kind in ("picture", "optional_record"):
        return model.output_record(op)["cs_public"]
    if kind == "fields":
        return op["result"]["cs"]
    return "void"


def call_body(model, op, args):
    """The statements of XxxOn: the C call, its outputs made into the result, Finish."""
    kind = op["kind"]
    call = f"Native.{op['c']}(" + ", ".join(["handle"] + args)
    if kind == "value":
        name = op["output"]["name"]
        value = f"{name} != 0" if op["output"]["type"] == "bool" else name
        return [f"int {name};", f"int status = {call}, out {name});",
                f"return Finish(status, {value});"]
    if kind == "none":
        return [f"Check({call}));"]
    if kind == "fields":
        outs = op["outputs"]
        body = [f"{'int' if o['type'] == 'i32' else 'long'} {o['name']};" for o in outs]
        body.append(f"int status = {call}, {', '.join('out ' + o['name'] for o in outs)});")
        return body + [f"return Finish(status, new {op['result']['cs']}("
                       f"{', '.join(o['name'] for o in outs)}));"]
    record = model.output_record(op)
    if kind in ("picture", "optional_record"):
        return ["IntPtr block;", f"int status = {call}, out block);",
                f"return Finish(status, Single(block, (Native.{record['cs']} r) => From(r)));"]
    body = ["IntPtr block;", "int count;", f"int status = {call}, out block, out count);"]
    if kind == "list":
        return body + [f"return Finish(status, List(block, count, (Native.{record['cs']} r) => "
                       "From(r)));"]
    key, value = record["fields"]
    read = f"Text(e.{pascal(value['name'])})" if value["kind"] == "text" \
        else f"e.{pascal(value['name'])}"
    return body + ["// Each text is read while its block lives.",
                   f"return Finish(status, Map(List(block, count, (Native.{record['cs']} e) =>",
                   f"    new KeyValuePair<int, {PUBLIC_FIELD[value['kind']]}>"
                   f"(e.{pascal(key['name'])}, {read}))));"]


def method(model, op):
    """The public method Xxx on the object's handle and XxxOn, the call on any handle."""
    params, names, args = arguments(model, op)
    ret = result_type(model, op)
    body = call_body(model, op, args)
    lists = [i["name"] for i in model.inputs(op) if i["type"] == "text_list"]
    if lists:
        add = f'ids.Add(Unmanaged(Utf8(id, "{lists[0]}")));'
        body = ["var ids = new List<IntPtr>();", "try", "{",
                f"    foreach (string id in {lists[0]}) {add}"] + \
            ["    " + line for line in body] + \
            ["}", "finally", "{", "    foreach (IntPtr id in ids) Marshal.FreeHGlobal(id);", "}"]
    out = []
    doc = op.get("py_doc")
    if doc:
        doc = doc.replace("None", "null").replace("Error with status",
                                                  "CorvaneException with Status")
        out.append(f"/// <summary>{doc}</summary>")
    on = f"{op['cs']}On({', '.join(['Handle'] + names)})"
    out += [f"public {ret} {op['cs']}({', '.join(params)})", "{"]
    if ret == "void":
        out += [f"    {on};", "    GC.KeepAlive(this);"]
    else:
        out += [f"    {ret} result = {on};",
                "    GC.KeepAlive(this);",
                "    return result;"]
    out += ["}", ""]
    out += asynchronous(op, params, names, ret)
    on_params = ["int handle"] + [p.split(" = ")[0] for p in params]
    out += [f"private static {ret} {op['cs']}On({', '.join(on_params)})", "{"]
    out += ["    " + line for line in body]
    return out + ["}", ""]


def asynchronous(op, params, names, ret):
    """XxxAsync: XxxOn on a thread and a scope of its own (Run); the picture's with the
    progress of its answer, also in an overload without the defaulted arguments."""
    token = "CancellationToken cancellationToken = default(CancellationToken)"
    on = f"{op['cs']}On({', '.join(['handle'] + names)})"
    task = "Task" if ret == "void" else f"Task<{ret}>"
    call = f"handle => {{ {on}; return true; }}" if ret == "void" else f"handle => {on}"
    name = op["cs"] + "Async"
    if op["kind"] != "picture":
        return [f"public {task} {name}({', '.join(params + [token])})", "{",
                f"    return Run({call}, cancellationToken);", "}", ""]
    required = [p for p in params if " = " not in p]
    passed = [p.split(" = ")[1] if " = " in p else n for p, n in zip(params, names)]
    return ["/// <summary>progress hears of the picture's bytes received so far.</summary>",
            f"public {task} {name}("
            f"{', '.join(params + ['IProgress<long> progress = null', token])})",
            "{", f"    return Run({call}, cancellationToken, progress);", "}", "",
            f"public {task} {name}({', '.join(required + ['IProgress<long> progress', token])})",
            "{", f"    return {name}({', '.join(passed + ['progress', 'cancellationToken'])});",
            "}", ""]


def client(model):
    out = []
    for op in model.operations:
        out += method(model, op)
    for record in model.c_records.values():
        if "cs_public" in record:
            out += converter(model, record)
    text = [banner("//").rstrip(),
            "// The operations of a client or scope, one per C function of CorvaneC.h, and the",
            "// conversions of their records; CorvaneOperations.cs holds the rest of the class.",
            "using System;", "using System.Collections.Generic;",
            "using System.Runtime.InteropServices;", "using System.Threading;",
            "using System.Threading.Tasks;", "using static Corvane.Marshalling;", "",
            "namespace Corvane", "{", "    public abstract partial class CorvaneOperations",
            "    {"]
    text += wrap(out[:-1], 8)
    text += ["    }", "}"]
    return "\n".join(text) + "\n"


def outputs(model):
    folder = "bindings/csharp/"
    return {folder + "Native.g.cs": native(model), folder + "Records.g.cs": records_file(model),
            folder + "CorvaneOperations.g.cs": client(model)}
