# What scdoc's roff lacks for a terminal reader (tx4410_add_manpage runs it on every page).
# man's .TH turns hyphenation back on, which would split command names (SYS-Tem) at a line end.
/^\.TH /a .nh
# A plain "-" is a hyphen, where a line may break (--settle-/ms); options and names want the
# minus sign, which never breaks and copies as "-".
/^[.']/!s/-/\\-/g
# ...but not in a motion's distance (a list's bullet: \h'-04').
/^[.']/!s/\\h'\\-/\\h'-/g
