#!/usr/bin/python3
"""The Prometheus mixin: promtool checks and unit-tests the rules; the Grafana dashboard has a
dashboard's shape, and its queries, like the rules, name only series the exporter documents
(docs/metrics.md, held to the code by the metrics tests) or the rules record.
usage: mixin_test.py <source dir>"""
import json
import re
import subprocess
import sys

import yaml

mixin = f"{sys.argv[1]}/packaging/prometheus"
for command in ("check", "brivane-rules.yml"), ("test", "brivane-rules.test.yml"):
    subprocess.run(["promtool", command[0], "rules", command[1]], cwd=mixin, check=True,
                   stdout=subprocess.DEVNULL)
with open(f"{sys.argv[1]}/docs/metrics.md", encoding="utf-8") as page:
    known = set(re.findall(r"^\| `(brivane_\w+)` \|", page.read(), re.M))
with open(f"{mixin}/brivane-rules.yml", encoding="utf-8") as rules:
    rules = [rule for group in yaml.safe_load(rules)["groups"] for rule in group["rules"]]
known |= {rule["record"] for rule in rules if "record" in rule}
with open(f"{mixin}/brivane-dashboard.json", encoding="utf-8") as dashboard:
    dashboard = json.load(dashboard)

failures = [f"dashboard: no {key}" for key in ("uid", "title", "schemaVersion", "templating")
            if key not in dashboard]
queries = [(rule.get("record") or rule["alert"], rule["expr"]) for rule in rules]
for panel in dashboard["panels"]:
    failures += [f"panel {panel.get('title')}: no {key}" for key in ("id", "type", "gridPos")
                 if key not in panel]
    queries += [(panel.get("title"), target["expr"]) for target in panel["targets"]]
failures += [f"{where}: {name} is neither exported nor recorded" for where, expr in queries
             for name in re.findall(r"\b(brivane_\w+|\w+:brivane_\w+:\w+)", expr)
             if name not in known]
print("\n".join(failures) or "mixin: rules and dashboard pass")
sys.exit(1 if failures else 0)
