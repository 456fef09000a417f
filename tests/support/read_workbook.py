# Prints a workbook as JSON, read with openpyxl (python3-openpyxl): each
# sheet's name, frozen cell, filter, custom column widths, rows of cells
# (value, type, bold, link) and charts. Strings are decoded as Excel decodes
# them ("_xHHHH_" is the character HHHH), which openpyxl leaves undone.
import json, re, sys
import openpyxl


def value(cell):
    v = cell.value
    if isinstance(v, str):
        return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), v)
    return v.strftime("%Y-%m-%dT%H:%M:%S") if hasattr(v, "strftime") else v


def ref(data):
    if data is None:
        return None
    text = getattr(data, "strRef", None)
    return "str:" + text.f if text is not None else data.numRef.f


sheets = [{
    "name": ws.title, "freeze": ws.freeze_panes, "filter": ws.auto_filter.ref,
    "widths": {k: d.width for k, d in ws.column_dimensions.items() if d.customWidth},
    "rows": [[{"v": value(c), "t": c.data_type, "bold": bool(c.font.b),
               "link": c.hyperlink.target if c.hyperlink else None} for c in row]
             for row in ws.iter_rows()],
    "charts": [{"direction": getattr(c, "barDir", None),
                "series": [{"categories": ref(s.cat), "values": ref(s.val)} for s in c.series]}
               for c in ws._charts],
} for ws in openpyxl.load_workbook(sys.argv[1]).worksheets]
json.dump({"sheets": sheets}, sys.stdout, ensure_ascii=False)
