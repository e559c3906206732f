"""The CLI's subcommand registry (tools/cli/Subcommands.gen.cpp): one subcommand per operation,
its arguments and options, and the Runner method it runs."""
from model import banner, pascal


def cxx_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def function_name(op):
    return "Add" + "".join(pascal(word) for word in op["cli"].replace("-", " ").split())


CXX_INPUT = {"text": "const std::string&", "i32": "int", "i64": "long long",
             "text_list": "const std::vector<std::string>&"}


def runner_call(op, runner, args):
    """The call that runs op's subcommand: its Runner method, or the function written here."""
    if "cli_table" in op:
        return f"Run{op['cs']}({', '.join([runner] + args)})"
    return f"{runner}.{op['cli_runner']}({', '.join(args)})"


def table_runner(model, op):
    """Run<Operation>: a list of flat text records as a table, a JSON array and a count."""
    record = model.output_record(op)
    fields = [f["name"] for f in record["fields"]]
    params = ", ".join(["Runner& runner"] + [f"{CXX_INPUT[i['type']]} {i['name']}"
                                             for i in model.inputs(op)])
    inputs = {i["name"] for i in model.inputs(op)}
    args = ["runner.handle()" if n == "handle" else n if n in inputs else "list"
            for _, n in op["cxx_params"]]
    table = op["cli_table"]
    columns = ", ".join(cxx_string(c) for c in table["columns"])
    out = [f"Outcome Run{op['cs']}({params}) {{",
           f"  std::vector<Corvane::{record['from']}> list;",
           f"  Outcome o = Timed({cxx_string(op['cli'])}, "
           f"[&] {{ return Corvane::{op['cxx']}({', '.join(args)}); }});",
           f"  o.table.columns = {{{columns}}};",
           "  o.json = quim::Json::Value(quim::Json::arrayValue);",
           "  for (const auto& e : list) {",
           f"    o.table.rows.push_back({{{', '.join('e.' + f for f in fields)}}});",
           "    quim::Json::Value item;"]
    out += [f"    item[{cxx_string(f)}] = quim::Json::Value(e.{f});" for f in fields]
    out += ["    o.json.append(std::move(item));", "  }",
            f"  o.summary = Plural(list.size(), {cxx_string(table['noun'])});",
            "  return o;", "}", ""]
    return out


def footer(text):
    lines = text.splitlines(keepends=True)
    return ["const char* const kCliFooter ="] + \
        ["    " + cxx_string(line).replace("\n", "\\n") for line in lines[:-1]] + \
        ["    " + cxx_string(lines[-1]).replace("\n", "\\n") + ";", ""]


def demo_steps(model):
    out = ["std::vector<std::function<Outcome()>> DemoSteps(Runner& runner, const DemoIds& ids) {",
           "  return {"]
    for op in sorted(model.operations, key=lambda o: o["demo"]["step"]):
        out.append(f"      [&] {{ return {runner_call(op, 'runner', op['demo']['args'])}; }},")
    out += ["  };", "}", ""]
    return out


def subcommand(op, parent):
    words = op["cli"].split()
    uses = bool(op.get("cli_args"))
    arguments = "Arguments& a" if uses else "Arguments&"
    out = [f"void {function_name(op)}(CLI::App* {parent}, {arguments}, Action& action) {{",
           f"  CLI::App* sub = AddSubcommand({parent}, {cxx_string(words[-1])}, "
           f"{cxx_string(op['cli_help'])}, {cxx_string(op['cli_example'])});"]
    options = []
    for arg in op.get("cli_args", []):
        line = f"sub->add_option({cxx_string(arg['name'])}, a.{arg['var']}, {cxx_string(arg['help'])})"
        if not arg["name"].startswith("-"):
            line += "->required()"
        if arg.get("default"):
            line += "->capture_default_str()"
        if "check" in arg:
            line += f"->check(Within({arg['check']}))"
        if "date" in arg:
            line += "->check(DateValidator())"
        if "cli_one_of" in op and arg["name"].startswith("-"):
            name = arg["var"] + "Option"
            options.append(name)
            line = f"CLI::Option* {name} = " + line
        out.append(f"  {line};")
    call = op.get("cli_call", [arg["var"] for arg in op.get("cli_args", [])])
    capture = "&a" if call else ""
    run = f"action = [{capture}](Runner& r) {{ return " + \
        runner_call(op, "r", ["a." + v for v in call]) + "; };"
    body = []
    if "cli_one_of" in op:
        body += [f"if ({' && '.join(o + '->count() == 0' for o in options)}) {{",
                 f"  throw CLI::ValidationError({cxx_string(op['cli'])}, "
                 f"{cxx_string(op['cli_one_of'])});", "}"]
    for arg in op.get("cli_args", []):
        if "date" in arg:
            body.append(f"a.{arg['date']} = *ParseDate(a.{arg['var']});")
    body.append(run)
    captures = ("&a, " if uses else "") + "&action" + "".join(", " + o for o in options)
    out.append(f"  sub->callback([{captures}] {{")
    out += ["    " + line for line in body]
    out += ["  });", "}", ""]
    return out


def outputs(model):
    groups = {g["name"]: g for g in model.data.get("cli_group", [])}
    out = [banner("//").rstrip(),
           "// The subcommands of the library's operations: their arguments and options, and the",
           "// Runner method each runs once the command line is parsed.",
           '#include "Subcommands.h"', "", "#include <utility>", "", '#include "Corvane.h"',
           '#include "Text.h"', '#include "quim/Json.h"', "",
           "namespace corvane_cli {", ""]
    out += footer(model.data["cli"]["footer"])
    out += ["namespace {", ""]
    for op in model.operations:
        if "cli_table" in op:
            out += table_runner(model, op)
    registry = []
    for op in model.operations:
        words = op["cli"].split()
        if len(words) == 1:
            out += subcommand(op, "app")
            registry.append(f"  {function_name(op)}(&app, a, action);")
            continue
        group = groups[words[0]]
        out += subcommand(op, "group")
        members = [o for o in model.operations if o["cli"].split()[0] == words[0]]
        if op is members[-1]:
            name = "Add" + "".join(pascal(w) for w in words[0].split("-"))
            out += [f"void {name}(CLI::App* app, Arguments& a, Action& action) {{",
                    f"  CLI::App* group = AddSubcommand(app, {cxx_string(group['name'])}, "
                    f"{cxx_string(group['help'])}, {cxx_string(group['example'])});",
                    "  group->require_subcommand(1);"]
            out += [f"  {function_name(m)}(group, a, action);" for m in members]
            out += ["}", ""]
            registry.append(f"  {name}(&app, a, action);")
    out += ["}  // namespace", "",
            "void AddOperationSubcommands(CLI::App& app, Arguments& a, Action& action) {"]
    seen = []
    for line in registry:
        if line not in seen:
            seen.append(line)
    out += seen + ["}", ""] + demo_steps(model) + ["}  // namespace corvane_cli"]
    return {"tools/cli/Subcommands.gen.cpp": "\n".join(out) + "\n"}
