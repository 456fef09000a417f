"""Prints a workbook as JSON, read with openpyxl (Debian's python3-openpyxl):
for each sheet its name, frozen cell, filter range, column widths, rows of
cells (value, type, bold, link target, number format) and bar charts.

Strings are decoded as Excel decodes them: "_xHHHH_" is the character HHHH
(openpyxl leaves that to the reader)."""
import datetime
import json
import re
import sys

import openpyxl

ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def value_of(cell):
    value = cell.value
    if isinstance(value, str):
        return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), value)
    if isinstance(value, datetime.datetime):
        return value.strftime("%Y-%m-%dT%H:%M:%S")
    return value


def chart_of(chart):
    series = []
    for s in chart.series:
        cat = None
        if s.cat is not None and s.cat.strRef is not None:
            cat = "str:" + s.cat.strRef.f
        elif s.cat is not None and s.cat.numRef is not None:
            cat = "num:" + s.cat.numRef.f
        val = s.val.numRef.f if s.val is not None and s.val.numRef is not None else None
        series.append({"categories": cat, "values": val})
    return {"type": chart.tagname, "direction": getattr(chart, "barDir", None), "series": series}


def main():
    book = openpyxl.load_workbook(sys.argv[1])
    sheets = []
    for sheet in book.worksheets:
        rows = []
        for row in sheet.iter_rows():
            cells = []
            for cell in row:
                cells.append({
                    "v": value_of(cell),
                    "t": cell.data_type,
                    "bold": bool(cell.font.b),
                    "link": cell.hyperlink.target if cell.hyperlink is not None else None,
                    "fmt": cell.number_format,
                })
            rows.append(cells)
        sheets.append({
            "name": sheet.title,
            "freeze": sheet.freeze_panes,
            "filter": sheet.auto_filter.ref,
            "widths": {k: d.width for k, d in sheet.column_dimensions.items() if d.customWidth},
            "rows": rows,
            "charts": [chart_of(c) for c in sheet._charts],
        })
    json.dump({"sheets": sheets}, sys.stdout, ensure_ascii=False)


main()
