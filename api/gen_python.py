"""The Python package's generated modules: _native_ops.py (ctypes records and the declarations
of the operations' C functions) and _operations.py (public records and the Client methods)."""
from model import banner, snake

CTYPES = {"text": "c_text", "i32": "C.c_int32", "i64": "C.c_int64",
          "bytes": "C.POINTER(C.c_ubyte)"}
ARGTYPES = {"int": "_int", "const char*": "c_text", "int32_t": "_i32", "int64_t": "_i64",
            "int32_t*": "_i32p", "int64_t*": "_i64p", "const char* const*": "C.POINTER(c_text)"}
PY_TYPES = {"text": "str", "i32": "int", "i64": "int", "text_list": "Iterable[str]"}


def native(model):
    out = [banner("#").rstrip(), '"""The ctypes records of the C interface\'s results and the',
           'declarations (restype, argtypes) of the operations\' C functions (CorvaneC.h)."""',
           "import ctypes as C", "", "c_text = C.c_char_p  # NUL-terminated bytes, in the block "
           "of a result", "_int, _i32, _i64 = C.c_int, C.c_int32, C.c_int64",
           "_i32p, _i64p = C.POINTER(C.c_int32), C.POINTER(C.c_int64)", ""]
    for record in model.c_records.values():
        fields = []
        for field in record["fields"]:
            kind = field["kind"]
            if kind.startswith("list:"):
                inner = model.c_record(kind[5:])["py"]
                fields += [f'("{field["name"]}", C.POINTER({inner}))',
                           f'("{field["name"][:-1]}Count", C.c_int32)']
            else:
                fields.append(f'("{field["name"]}", {CTYPES[kind]})')
        out += ["", f"class {record['py']}(C.Structure):",
                f"    _fields_ = [{', '.join(fields)}]", ""]
    names = [r["py"] for r in model.c_records.values()] + ["OPERATIONS"]
    out.insert(out.index("import ctypes as C") + 1, "")
    out.insert(out.index("import ctypes as C") + 2, f"__all__ = {names!r}")
    out += ["", "# name: (restype, argtypes)", "OPERATIONS = {"]
    for op in model.operations:
        args = []
        for ctype, _ in model.c_params(op):
            if ctype.endswith("**"):
                args.append(f"C.POINTER(C.POINTER({model.c_record(ctype[:-2])['py']}))")
            else:
                args.append(ARGTYPES[ctype])
        out.append(f'    "{op["c"]}": (_int, [{", ".join(args)}]),')
    out.append("}")
    return "\n".join(out) + "\n"


def public_fields(record):
    names = record.get("public_fields", [f["name"] for f in record["fields"]])
    return [f for f in record["fields"] if f["name"] in names]


def converter(model, record):
    """_from_<name>(r): the public record of a ctypes record."""
    values = []
    for field in public_fields(record):
        name, kind = field["name"], field["kind"]
        if kind == "text":
            values.append(f"_text_out(r.{name})")
        elif kind == "bytes":
            values.append(f"C.string_at(r.{name}, r.{field['length']})")
        elif kind.startswith("list:"):
            inner = model.c_record(kind[5:])
            values.append(f"tuple(_from_{snake(inner['py'])}(r.{name}[j]) "
                          f"for j in range(r.{name[:-1]}Count))")
        else:
            values.append(f"r.{name}")
    return [f"def _from_{snake(record['py'])}(r):",
            f"    return {record['py_public']}({', '.join(values)})", ""]


def dataclass(model, name, fields, comments=None):
    out = ["", "@dataclasses.dataclass(frozen=True)", f"class {name}:"]
    for field_name, kind in fields:
        comment = (comments or {}).get(field_name)
        out.append(f"    {snake(field_name)}: {kind}" + (f"  # {comment}" if comment else ""))
    return out + [""]


def py_kind(model, field):
    kind = field["kind"]
    if kind.startswith("list:"):
        return f"Tuple[{model.c_record(kind[5:])['py_public']}, ...]"
    return {"text": "str", "i32": "int", "i64": "int", "bytes": "bytes"}[kind]


def arguments(model, op):
    """The method's parameters and the C call's arguments after the handle."""
    params, args, setup = [], [], []
    for item in model.inputs(op):
        name, kind = snake(item["name"]), item["type"]
        default = f" = {item['default']}" if "default" in item else ""
        params.append(f"{name}: {PY_TYPES[kind]}{default}")
        if kind == "text":
            args.append(f'_text_in("{name}", {name})')
        elif kind == "i32":
            args.append(f'_int_in("{name}", {name})')
        elif kind == "i64":
            args.append(f'_int_in("{name}", {name}, _INT64)')
        else:
            setup += [f'texts = [_text_in("{name}[%d]" % i, t) for i, t in enumerate({name})]',
                      "array = (C.c_char_p * max(len(texts), 1))(*texts)"]
            args += ["array if texts else None", f'_int_in("len({name})", len(texts))']
    return params, args, setup


PROGRESS = "progress: Optional[Callable[[int, int], object]] = None"


def method(model, op):
    """The Client method of an operation, over the helpers of corvane._client._Handle."""
    params, args, setup = arguments(model, op)
    kind = op["kind"]
    call = ", ".join([f"_lib().{op['c']}"] + args)
    if kind in ("list", "map", "picture", "optional_record"):
        record = model.output_record(op)
    if kind == "value":
        ret = "bool" if op["output"]["type"] == "bool" else "int"
        body = [f"return self._single(C.c_int32, {ret}, {call})"]
    elif kind == "list":
        ret = f"List[{record['py_public']}]"
        body = [f"return self._list(_native.{record['py']}, _from_{snake(record['py'])}, list, "
                f"{call})"]
    elif kind == "map":
        key, value = record["fields"]
        read = f"_text_out(e.{value['name']})" if value["kind"] == "text" else f"e.{value['name']}"
        ret = f"Dict[int, {'str' if value['kind'] == 'text' else 'int'}]"
        body = [f"return self._list(_native.{record['py']}, lambda e: (e.{key['name']}, "
                f"{read}), dict, {call})"]
    elif kind in ("picture", "optional_record"):
        ret = f"Optional[{record['py_public']}]"
        extra = ", progress=progress" if kind == "picture" else ""
        if kind == "picture":
            params.append(PROGRESS)
        body = [f"return self._record(_native.{record['py']}, _from_{snake(record['py'])}, "
                f"{call}{extra})"]
    elif kind == "none":
        ret = "None"
        body = [f"self._none({call})"]
    elif kind == "fields":
        ret = op["result"]["py"]
        types = [{"i32": "C.c_int32", "i64": "C.c_int64"}[o["type"]] for o in op["outputs"]]
        body = [f"return self._fields({ret}, ({', '.join(types)}), {call})"]
    out = [f"def {op['py']}(self{''.join(', ' + p for p in params)}) -> {ret}:"]
    doc = op.get("py_doc", "")
    if kind == "picture":
        doc += (" progress(received, total) is called while the picture arrives (total -1 when"
                " the server announces none); an exception or a true return from it cancels the"
                " call.")
    doc = wrapped_doc(doc.strip()) if doc else []
    out += doc + ["    " + line for line in setup + body]
    return ["    " + line if line else "" for line in out] + [""], (params, ret, doc)


def wrapped_doc(text, indent="    ", width=99):
    """A docstring of text, cut into lines that fit the width."""
    words, lines, line = text.split(), [], indent + '"""'
    for word in words:
        if len(line) + 1 + len(word) > width and line.strip() != '"""':
            lines.append(line)
            line = indent
        line += ("" if line.endswith(('"""', " ")) else " ") + word
    lines.append(line + '"""')
    return lines


def async_method(op, params, ret, doc):
    """The corvane.aio method of an operation: the Client method on a worker thread, on a scope
    that the task's cancellation cancels."""
    names = [p.split(":")[0] for p in params]
    return [f"    async def {op['py']}(self{''.join(', ' + p for p in params)}) -> {ret}:"] + [
        "    " + line for line in doc] + [
            f"        return await self._call(_Operations.{op['py']}"
            f"{''.join(', ' + n for n in names)})", ""]


def operations(model):
    publics = [r for r in model.c_records.values() if "py_public" in r]
    names = [r["py_public"] for r in publics]
    fields_ops = [op for op in model.operations if op["kind"] == "fields"]
    names += [op["result"]["py"] for op in fields_ops]
    out = [banner("#").rstrip(),
           '"""The operations\' public records and the Client methods, one per operation of the',
           'C interface (CorvaneC.h); corvane/__init__.py makes Client of _Operations."""',
           "import ctypes as C", "import dataclasses",
           "from typing import Callable, Dict, Iterable, List, Optional, Tuple", "",
           "from . import _native",
           "from ._support import _INT64, _int_in, _lib, _text_in, _text_out", "",
           f"RECORDS = {names!r}", "__all__ = RECORDS", ""]
    for record in publics:
        out += dataclass(model, record["py_public"],
                         [(f["name"], py_kind(model, f)) for f in public_fields(record)])
    for op in fields_ops:
        out += dataclass(model, op["result"]["py"],
                         [(o["name"], "int") for o in op["outputs"]],
                         {o["name"]: o.get("comment") for o in op["outputs"]})
    out.append("")
    for record in publics:
        out += converter(model, record)
    out += ["", "class _Operations:",
            '    """The operations, as CorvaneC.h declares them, over the helpers of Client and',
            '    Scope (corvane._client._Handle)."""', ""]
    asyncs = ["", "class _AsyncOperations:",
              '    """The operations of corvane.aio, each the Client method run by _call."""', ""]
    for op in model.operations:
        lines, (params, ret, doc) = method(model, op)
        out += lines
        asyncs += async_method(op, params, ret, doc)
    return "\n".join(out + asyncs).rstrip() + "\n"


def outputs(model):
    folder = "bindings/python/corvane/"
    return {folder + "_native_ops.py": native(model), folder + "_operations.py": operations(model)}
