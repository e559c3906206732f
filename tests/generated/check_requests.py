"""check_requests.py <corvane> <server URL>

Runs `corvane --server URL demo --yes` against a simulated platform server, then holds every
request the server logged against the OpenAPI document that the same server serves at
/openapi.json: each request must be one of the document's operations (method and path template),
with exactly its query parameters (values of their type) and a JSON body of its members, the
required ones present. And every operation of the document must have been sent by the demo.
"""
import json
import re
import subprocess
import sys
import urllib.parse
import urllib.request

TYPES = {"string": str, "integer": int, "array": list, "object": dict, "boolean": bool}


def fetch(url):
    with urllib.request.urlopen(url, timeout=30) as answer:
        return json.loads(answer.read().decode("utf-8"))


def template_pattern(path):
    """/a/{id}/b -> ^/a/([^/]+)/b$, with the parameter names."""
    names = re.findall(r"\{(\w+)\}", path)
    pattern = "^" + re.sub(r"\\\{\w+\\\}", "([^/?]+)", re.escape(path)) + "$"
    return re.compile(pattern), names


def type_fault(value, schema, where):
    """What is wrong with a JSON value against a (small) schema, or None."""
    if value is None and schema.get("nullable"):
        return None
    expected = schema.get("type")
    if expected is None:
        return None
    if not isinstance(value, TYPES[expected]) or (expected == "integer" and
                                                  isinstance(value, bool)):
        return f"{where} is {json.dumps(value)}, not of type {expected}"
    if expected == "array":
        for i, item in enumerate(value):
            fault = type_fault(item, schema.get("items", {}), f"{where}[{i}]")
            if fault:
                return fault
    if expected == "object" and "properties" in schema:
        for name, member in value.items():
            if name not in schema["properties"]:
                return f"{where} has the member {name!r} the document does not describe"
            fault = type_fault(member, schema["properties"][name], f"{where}.{name}")
            if fault:
                return fault
    return None


def query_fault(text, schema, where):
    if schema.get("type") == "integer" and not re.fullmatch(r"-?[0-9]+", text):
        return f"{where} is {text!r}, not an integer"
    if "enum" in schema and int(text) not in schema["enum"]:
        return f"{where} is {text}, not one of {schema['enum']}"
    return None


def faults_of(request, operation):
    """What does not match between a logged request and a described operation."""
    faults = []
    target = urllib.parse.urlsplit(request["target"])
    query = urllib.parse.parse_qsl(target.query, keep_blank_values=True)
    described = {p["name"]: p for p in operation.get("parameters", []) if p["in"] == "query"}
    sent = [name for name, _ in query]
    if sorted(sent) != sorted(described):
        faults.append(f"query parameters {sent}, the document has {sorted(described)}")
    for name, value in query:
        if name in described:
            fault = query_fault(value, described[name]["schema"], "query " + name)
            if fault:
                faults.append(fault)
    body_schema = operation.get("requestBody", {}).get("content", {}).get(
        "application/json", {}).get("schema")
    if body_schema is None:
        if request["body"]:
            faults.append("a body where the document describes none")
        return faults
    try:
        body = json.loads(request["body"])
    except ValueError:
        return faults + ["a body that is not JSON"]
    if not isinstance(body, dict):
        return faults + ["a body that is not a JSON object"]
    missing = [name for name in body_schema.get("required", []) if name not in body]
    if missing:
        faults.append(f"body without the required members {missing}")
    fault = type_fault(body, body_schema, "body")
    if fault:
        faults.append(fault)
    return faults


def main():
    corvane, url = sys.argv[1], sys.argv[2].rstrip("/")
    document = fetch(url + "/openapi.json")
    operations = []
    for path, methods in document["paths"].items():
        pattern, _ = template_pattern(path)
        for method, operation in methods.items():
            operations.append((method.upper(), path, pattern, operation))
    demo = subprocess.run([corvane, "--server", url, "demo", "--yes"], capture_output=True,
                          text=True, timeout=300)
    if demo.returncode != 0:
        print(demo.stdout + demo.stderr)
        print(f"FAIL: the demo exited with {demo.returncode}")
        return 1
    requests = fetch(url + "/__mock/requests")["data"]["requests"]
    failures, sent = 0, set()
    for request in requests:
        candidates = [o for o in operations if o[2].match(request["path"])]
        chosen = [o for o in candidates if o[0] == request["method"]]
        if not chosen:
            failures += 1
            print(f"FAIL: {request['method']} {request['target']} is no operation of the document")
            continue
        method, path, _, operation = chosen[0]
        sent.add((method, path))
        for fault in faults_of(request, operation):
            failures += 1
            print(f"FAIL: {request['method']} {request['target']} ({operation['operationId']}): "
                  f"{fault}")
    for method, path, _, operation in operations:
        if (method, path) not in sent:
            failures += 1
            print(f"FAIL: the demo never sent {operation['operationId']} ({method} {path})")
    print(f"{len(requests)} requests of the demo against {len(operations)} described operations")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
