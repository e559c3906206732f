"""The OpenAPI 3 document of the fourteen endpoints (api/openapi.json) and its copy embedded in
the simulated server (tools/mock-server/OpenApiDocument.gen.cpp), which serves it at
GET /openapi.json."""
import json
import re

from model import banner

IDENTITY = {"clientType": {"type": "string"}, "clientMac": {"type": "string"},
            "project": {"type": "string"}}
QUERY_TYPES = {"text": {"type": "string"}, "i32": {"type": "integer", "format": "int32"},
               "i64": {"type": "integer", "format": "int64"}}
FIELD_TYPES = {"text": {"type": "string"}, "i32": {"type": "integer", "format": "int32"},
               "i64": {"type": "integer", "format": "int64"}}


def short_schema(text):
    """A schema from the description's short form: string, integer[:format], array:<item>,
    {name=<schema>,...}."""
    text = text.strip()
    if text.startswith("array:"):
        return {"type": "array", "items": short_schema(text[6:])}
    if text.startswith("{"):
        members, depth, start = {}, 0, 1
        for i, char in enumerate(text):
            depth += char in "{"
            depth -= char in "}"
            if (char == "," and depth == 1) or (char == "}" and depth == 0):
                name, _, schema = text[start:i].partition("=")
                members[name.strip()] = short_schema(schema)
                start = i + 1
        return {"type": "object", "properties": members}
    kind, _, fmt = text.partition(":")
    return {"type": kind, "format": fmt} if fmt else {"type": kind}


def record_schema(model, record):
    properties = {}
    for field in record["fields"]:
        kind = field["kind"]
        if kind.startswith("list:"):
            properties[field["name"]] = {
                "type": "array", "items": {"$ref": "#/components/schemas/" +
                                           model.c_record(kind[5:])["cs"]}}
        else:
            properties[field["name"]] = dict(FIELD_TYPES[kind])
    return {"type": "object", "properties": properties}


def data_schema(model, op):
    if "data" in op:
        return {"type": "object",
                "properties": {k: short_schema(v) for k, v in op["data"].items()}}
    kind = op["kind"]
    if kind == "value":
        return {"type": "object", "properties": {op["output"]["member"]: {"type": "integer"}}}
    record = model.output_record(op)
    return {"type": "object", "properties": {"results": {
        "type": "array", "items": {"$ref": "#/components/schemas/" + record["cs"]}}}}


def body_schema(op):
    properties = dict(IDENTITY)
    for member in op.get("body", []):
        if member["type"] == "array":
            schema = {"type": "array", "items": {"type": member["items"]}}
            if member.get("nullable"):
                schema["nullable"] = True
        elif member["type"] == "object":
            schema = {"type": "object", "properties": {
                m.split(":")[0]: {"type": m.split(":")[1]} for m in member["members"]}}
        else:
            schema = {"type": member["type"]}
        properties[member["name"]] = schema
    required = list(IDENTITY) + [m["name"] for m in op.get("body", []) if not m.get("optional")]
    return {"type": "object", "properties": properties, "required": required,
            "additionalProperties": False}


def operation(model, op):
    inputs = {i["name"]: i for i in model.inputs(op)}
    parameters = []
    for name in re.findall(r"\{(\w+)\}", op["path"]):
        parameters.append({"name": name, "in": "path", "required": True,
                           "schema": QUERY_TYPES[inputs[name]["type"]]})
    for query in op.get("query", []):
        if "value" in query:
            schema = {"type": "integer", "enum": [int(query["value"])]}
        else:
            schema = QUERY_TYPES[inputs[query["from"]]["type"]]
        parameters.append({"name": query["name"], "in": "query", "required": True,
                           "schema": schema})
    if op.get("answer") == "picture":
        content = {"application/octet-stream": {"schema": {"type": "string",
                                                           "format": "binary"}},
                   "application/json": {"schema": {"$ref": "#/components/schemas/Envelope"}}}
        description = "the picture's bytes; a JSON envelope when the server refuses"
    else:
        content = {"application/json": {"schema": {"allOf": [
            {"$ref": "#/components/schemas/Envelope"},
            {"type": "object", "properties": {"data": data_schema(model, op)}}]}}}
        description = "the answer envelope; data as the operation reads it"
    result = {"operationId": op["cs"], "summary": f"{op['cxx']} (C: {op['c']})"}
    if parameters:
        result["parameters"] = parameters
    if op["method"] == "POST":
        result["requestBody"] = {"required": True, "content": {
            "application/json": {"schema": body_schema(op)}}}
    result["responses"] = {"200": {"description": description, "content": content}}
    return result


def document(model):
    paths = {}
    for op in model.operations:
        paths.setdefault("/" + op["path"], {})[op["method"].lower()] = operation(model, op)
    schemas = {"Envelope": {
        "type": "object", "required": ["code"],
        "properties": {"code": {"type": "integer", "description": "1000: success"},
                       "message": {"type": "string"}, "data": {}}}}
    for record in model.c_records.values():
        if "cs_public" in record and record["name"] != "corvane_picture":
            schemas[record["cs"]] = record_schema(model, record)
    return {"openapi": "3.0.3",
            "info": {"title": "Platform server endpoints that Corvane calls", "version": "1.1",
                     "description": "Generated by api/generate.py from api/operations.toml."},
            "paths": paths, "components": {"schemas": schemas}}


def embedded(text):
    """The document as a C++ string, in pieces short enough for every compiler's literals."""
    out = [banner("//").rstrip(),
           "// The OpenAPI document of the platform endpoints (api/openapi.json), served by the",
           "// simulated server at GET /openapi.json.",
           '#include "OpenApiDocument.h"', "", "namespace corvane::mock {", "",
           "const char* OpenApiDocument() {", "  return"]
    lines = text.splitlines(keepends=True)
    for start in range(0, len(lines), 40):
        out.append('      R"json(' + "".join(lines[start:start + 40]) + ')json"')
    out[-1] += ";"
    out += ["}", "", "}  // namespace corvane::mock"]
    return "\n".join(out) + "\n"


def outputs(model):
    text = json.dumps(document(model), indent=2) + "\n"
    return {"api/openapi.json": text,
            "tools/mock-server/OpenApiDocument.gen.cpp": embedded(text)}
