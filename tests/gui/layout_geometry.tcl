# What the layout check decides, apart from the GUI that feeds it: rectangles are lists
# {left top right bottom} in canvas pixels, a box is a dict {kind text rect}.

namespace eval ::layout_geometry {
    namespace export {[a-z]*}
}

# Edges that only touch do not overlap: two boxes placed side by side share a pixel line, and
# Pd draws that as two separate boxes.
proc ::layout_geometry::overlaps {a b} {
    lassign $a al at ar ab
    lassign $b bl bt br bb
    expr {$al < $br && $bl < $ar && $at < $bb && $bt < $ab}
}

proc ::layout_geometry::union {a b} {
    if {$a eq ""} {return $b}
    if {$b eq ""} {return $a}
    lassign $a al at ar ab
    lassign $b bl bt br bb
    list [expr {min($al, $bl)}] [expr {min($at, $bt)}] [expr {max($ar, $br)}] \
        [expr {max($ab, $bb)}]
}

# The smallest rectangle around a line's or polygon's points {x0 y0 x1 y1 ...}: a box's border
# from its coordinates, without the canvas bbox's margin of a pixel or two.
proc ::layout_geometry::points_rect {points} {
    set rect ""
    foreach {x y} $points {
        set rect [union $rect [list $x $y $x $y]]
    }
    return $rect
}

# How far a rectangle reaches past each edge of the visible area, as a list of
# "edge pixels" pairs, empty when it lies inside.
proc ::layout_geometry::beyond {rect view} {
    lassign $rect l t r b
    lassign $view vl vt vr vb
    set out {}
    if {$l < $vl} {lappend out left [expr {$vl - $l}]}
    if {$t < $vt} {lappend out top [expr {$vt - $t}]}
    if {$r > $vr} {lappend out right [expr {$r - $vr}]}
    if {$b > $vb} {lappend out bottom [expr {$b - $vb}]}
    return $out
}

# A box as a reader names it: [s name] for an object, "text..." for a comment.
proc ::layout_geometry::describe {box} {
    set text [string map {"\n" " "} [dict get $box text]]
    set text [string trim [regsub -all { +} $text " "]]
    if {[string length $text] > 40} {
        set text "[string range $text 0 36]..."
    }
    switch -- [dict get $box kind] {
        comment {return "comment \"$text\""}
        atom {return "number box \[$text\]"}
        msg {return "message \[$text\]"}
        default {return "object \[$text\]"}
    }
}

# Every finding in one window, one line each: pairs of boxes drawn over each other (in the
# order of the list) and boxes reaching past the visible area.
proc ::layout_geometry::findings {window boxes view} {
    set lines {}
    set n [llength $boxes]
    for {set i 0} {$i < $n} {incr i} {
        set a [lindex $boxes $i]
        for {set j [expr {$i + 1}]} {$j < $n} {incr j} {
            set b [lindex $boxes $j]
            if {[overlaps [dict get $a rect] [dict get $b rect]]} {
                lappend lines "overlap: $window: [describe $a] and [describe $b]"
            }
        }
    }
    foreach box $boxes {
        set past [beyond [dict get $box rect] $view]
        if {$past ne ""} {
            set where [join [lmap {edge px} $past {format "%s edge by %g px" $edge $px}] ", "]
            lappend lines "outside: $window: [describe $box] past the $where"
        }
    }
    return $lines
}

# The name of each subpatch a list of boxes shows ([pd name]), to open its window.
proc ::layout_geometry::subpatch_names {boxes} {
    set names {}
    foreach box $boxes {
        if {[dict get $box kind] eq "obj"
                && [regexp {^pd\s+(\S+)} [dict get $box text] -> name]} {
            lappend names $name
        }
    }
    return $names
}
