#!/usr/bin/env python3
"""The Group Policy template in docs/policy/: both files well-formed (Python's parser and
xmllint), in the shape of a policy definition and its resources, every reference between them
resolved, and its policies writing exactly the values, of the types, under the key that
road/service/update_policy.h reads; docs/integration.md lists each of them."""
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

from testing import ROOT, report

ADMX = ROOT / "docs/policy/corvanta-remote.admx"
ADML = ROOT / "docs/policy/en-US/corvanta-remote.adml"
HEADER = ROOT / "road/service/update_policy.h"
NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"

# The children each element may hold, in the order the schema requires them (* marks required).
ORDER = {
    "policyDefinitions": ["policyNamespaces*", "supersededAdm", "resources*", "supportedOn",
                          "categories", "policies"],
    "policy": ["parentCategory*", "seeAlso", "keywords", "supportedOn*", "enabledValue",
               "disabledValue", "enabledList", "disabledList", "elements"],
    "policyNamespaces": ["target*", "using"],
    "policyDefinitionResources": ["displayName*", "description*", "annotation", "resources*"],
    "resources": ["stringTable", "presentationTable"],
}


def code_reads():
    """The key, {value name: registry type}, the UpdateMode numbers and the text limit that the
    header declares."""
    text = HEADER.read_text()
    key = re.search(r'kUpdatePolicyKey\[\] = L"([^"]*)"', text).group(1).replace("\\\\", "\\")
    declared = {name: (kind, value) for kind, name, value in re.findall(
        r'// (REG_\w+): [^\n]*\ninline constexpr wchar_t (k\w+)\[\] = L"(\w+)";', text)}
    listed = re.search(r"kUpdatePolicyValueNames\[\] = \{([^}]*)\}", text).group(1)
    values = {declared[name][1]: declared[name][0] for name in re.findall(r"k\w+", listed)}
    modes = {int(n) for n in re.findall(r"k\w+ = (\d+),",
                                         re.search(r"enum class UpdateMode[^}]*", text).group(0))}
    limit = int(re.search(r"kMaxPolicyTextChars = (\d+);", text).group(1))
    return key, values, modes, limit


def order_faults(element, name):
    """Why `element`'s children are not in the schema's order, or nothing."""
    allowed = [entry.rstrip("*") for entry in ORDER[name]]
    tags = [child.tag.replace(NS, "") for child in element]
    faults = [f"{name}: {tag} is not a child it may hold" for tag in tags if tag not in allowed]
    positions = [allowed.index(tag) for tag in tags if tag in allowed]
    if positions != sorted(positions):
        faults.append(f"{name}: children {tags} are not in the order {allowed}")
    faults += [f"{name}: {entry[:-1]} is missing" for entry in ORDER[name]
               if entry.endswith("*") and entry[:-1] not in tags]
    return faults


def references(root, kind):
    """Every $(kind.id) named in an attribute below `root`."""
    return {match for element in root.iter() for value in element.attrib.values()
            for match in re.findall(r"\$\(" + kind + r"\.(\w+)\)", value)}


def written_values(policy):
    """(value name, registry type, numbers written) for each value the policy writes."""
    def dword(element):
        numbers = {int(d.get("value")) for d in element.iter(NS + "decimal")}
        return element.get("valueName"), "REG_DWORD", numbers

    written = [dword(policy)] if "valueName" in policy.attrib else []
    written += [dword(enum) for enum in policy.iter(NS + "enum")]
    kinds = {"true": "REG_EXPAND_SZ"}
    return written + [(text.get("valueName"), kinds.get(text.get("expandable"), "REG_SZ"), set())
                      for text in policy.iter(NS + "text")]


def policy_faults(admx, key, values, modes, limit):
    """Where the template's policies differ from what the service reads."""
    faults = []
    defined = {"parentCategory": {c.get("name") for c in admx.iter(NS + "category")},
               "supportedOn": {d.get("name") for d in admx.iter(NS + "definition")}}
    written = {}
    for policy in admx.iter(NS + "policy"):
        name = policy.get("name")
        faults += order_faults(policy, "policy")
        if policy.get("key", "").lower() != key.lower():  # registry names ignore case
            faults.append(f"{name}: key {policy.get('key')!r} is not {key!r}")
        if policy.get("class") != "Machine":
            faults.append(f"{name}: class {policy.get('class')!r} is not Machine")
        for tag, names in defined.items():
            ref = policy.find(NS + tag)
            if ref is not None and ref.get("ref") not in names:
                faults.append(f"{name}: {tag} {ref.get('ref')!r} is not defined")
        for value, kind, numbers in written_values(policy):
            written[value] = kind
            allowed = modes if value == "UpdateMode" else {0, 1}
            if kind == "REG_DWORD" and numbers != allowed:
                faults.append(f"{name}: writes {sorted(numbers)}, the service takes "
                              f"{sorted(allowed)}")
        for text in policy.iter(NS + "text"):
            if int(text.get("maxLength", "1023")) > limit:
                faults.append(f"{name}: maxLength over the {limit} characters the service reads")
    if written != values:
        faults.append(f"the template writes {written}, the service reads {values}")
    return faults


def resource_faults(admx, adml):
    """References between the two files that do not resolve, and texts that nothing uses."""
    presentations = {p.get("id"): p for p in adml.iter(NS + "presentation")}
    faults = []
    for kind in ("string", "presentation"):
        defined, used = {e.get("id") for e in adml.iter(NS + kind)}, references(admx, kind)
        faults += [f"{kind} {ident} is not in the ADML" for ident in used - defined]
        faults += [f"{kind} {ident} is not used" for ident in defined - used]
    for policy in admx.iter(NS + "policy"):
        match = re.fullmatch(r"\$\(presentation\.(\w+)\)", policy.get("presentation", ""))
        elements = {e.get("id") for e in policy.iter() if e.get("id") is not None}
        shown = presentations.get(match.group(1)) if match else None
        refs = set() if shown is None else {c.get("refId") for c in shown}
        if refs != elements:
            faults.append(f"{policy.get('name')}: presentation shows {refs}, elements {elements}")
    return faults


def main():
    failures = []
    for path in (ADMX, ADML):
        if shutil.which("xmllint") is None:
            failures.append("xmllint is missing: install libxml2-utils (scripts/setup-debian)")
            break
        result = subprocess.run(["xmllint", "--noout", str(path)], capture_output=True, text=True)
        if result.returncode != 0:
            failures.append(f"xmllint refuses {path.name}: {result.stderr.strip()}")
    try:
        admx, adml = ElementTree.parse(ADMX).getroot(), ElementTree.parse(ADML).getroot()
    except ElementTree.ParseError as error:
        return report(failures + [f"Python's XML parser refuses the template: {error}"])
    for root in (admx, adml):
        failures += [f"{root.tag}: {a} is missing" for a in ("revision", "schemaVersion")
                     if a not in root.attrib]
    for parent in (admx, admx.find(NS + "policyNamespaces"), adml, adml.find(NS + "resources")):
        failures += order_faults(parent, parent.tag.replace(NS, ""))
    key, values, modes, limit = code_reads()
    failures += policy_faults(admx, key, values, modes, limit)
    failures += resource_faults(admx, adml)
    guide = (ROOT / "docs/integration.md").read_text()
    failures += [f"docs/integration.md does not list `{v}`" for v in values
                 if f"`{v}`" not in guide]
    return report(failures, f"{len(values)} policy values checked: {len(failures)} faults")


if __name__ == "__main__":
    sys.exit(main())
