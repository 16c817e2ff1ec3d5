#!/usr/bin/python3
"""The Prometheus mixin: promtool checks and unit-tests the rules; the Grafana dashboard is a
well-formed dashboard whose every query, like every rule, names only series the exporter
documents (docs/metrics.md, checked against the code by the metrics tests) or the rules record.
usage: mixin_test.py <source dir>"""
import json
import re
import subprocess
import sys

import yaml

source = sys.argv[1]
mixin = f"{source}/packaging/prometheus"
for command in (["promtool", "check", "rules", "brivane-rules.yml"],
                ["promtool", "test", "rules", "brivane-rules.test.yml"]):
    subprocess.run(command, cwd=mixin, check=True, stdout=subprocess.DEVNULL)

with open(f"{source}/docs/metrics.md", encoding="utf-8") as page:
    documented = set(re.findall(r"^\| `(brivane_\w+)` \|", page.read(), re.M))
with open(f"{mixin}/brivane-rules.yml", encoding="utf-8") as rules_file:
    rules = [rule for group in yaml.safe_load(rules_file)["groups"] for rule in group["rules"]]
recorded = {rule["record"] for rule in rules if "record" in rule}
with open(f"{mixin}/brivane-dashboard.json", encoding="utf-8") as dashboard_file:
    dashboard = json.load(dashboard_file)

failures = []
for key, kind in (("uid", str), ("title", str), ("schemaVersion", int), ("panels", list),
                  ("templating", dict)):
    if not isinstance(dashboard.get(key), kind):
        failures.append(f"dashboard: {key} missing or not a {kind.__name__}")
variables = {variable["name"] for variable in dashboard["templating"]["list"]}
queries = [(rule.get("record") or rule["alert"], rule["expr"]) for rule in rules]
ids = set()
for panel in dashboard["panels"]:
    title = panel.get("title", "?")
    if panel.get("id") in ids or not {"type", "gridPos", "targets"} <= panel.keys():
        failures.append(f"panel {title}: duplicate id or missing type, gridPos or targets")
    ids.add(panel.get("id"))
    for target in panel["targets"]:
        queries.append((title, target["expr"]))
        failures += [f"panel {title}: unknown variable ${name}"
                     for name in re.findall(r"\$(\w+)", target["expr"])
                     if name not in variables and not name.startswith("__")]

for where, expr in queries:
    for name in re.findall(r"\b(brivane_\w+|\w+:brivane_\w+:\w+)", expr):
        if name not in documented and name not in recorded:
            failures.append(f"{where}: {name} is neither exported nor recorded")

print("\n".join(failures) or "mixin: rules and dashboard pass")
sys.exit(1 if failures else 0)
