#!/usr/bin/env python3
"""Checks the JSON document on standard input against velora-devctl's schema.

Usage: devctl_schema_check.py SCHEMA < document.json
Prints one line per violation (path: message) and exits 1 when there is any,
2 when the schema itself or the document is not what it should be.
"""
import json
import sys

import jsonschema


def main() -> int:
    with open(sys.argv[1], encoding="utf-8") as file:
        schema = json.load(file)
    validator_class = jsonschema.validators.validator_for(schema)
    try:
        validator_class.check_schema(schema)
    except jsonschema.SchemaError as error:
        print(f"the schema is not valid: {error.message}")
        return 2
    try:
        document = json.load(sys.stdin)
    except json.JSONDecodeError as error:
        print(f"not one JSON document: {error}")
        return 2
    errors = sorted(validator_class(schema).iter_errors(document), key=lambda e: list(e.absolute_path))
    for error in errors:
        where = "/".join(str(part) for part in error.absolute_path) or "(document)"
        print(f"{where}: {error.message}")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
