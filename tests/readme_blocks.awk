# Writes the code blocks of one README section, in one language, to files
# of their own, numbered in the order they stand there:
#   awk -v section=Embedding -v lang=c -v dir=DIR -f tests/readme_blocks.awk README.md
# gives DIR/1.c, DIR/2.c and so on.
/^## / { in_section = ($0 == "## " section) }
in_section && $0 == "```" lang { n++; file = sprintf("%s/%d.%s", dir, n, lang); next }
/^```/ { file = "" }
file != "" { print > file }
