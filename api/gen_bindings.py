"""The language packages' generated files."""
import gen_csharp
import gen_python


def outputs(model):
    files = gen_python.outputs(model)
    files.update(gen_csharp.outputs(model))
    return files
