# Unit tests of the layout check's decisions: tclsh layout_geometry_test.tcl (no GUI needed).
source [file join [file dirname [info script]] layout_geometry.tcl]
namespace import ::layout_geometry::*

set failures 0
proc check {name got want} {
    if {$got ne $want} {
        puts "FAIL: $name: got {$got}, want {$want}"
        incr ::failures
    }
}

# Rectangles that overlap by any area, and those that only touch or lie apart.
foreach {name a b want} {
    "inside"              {0 0 10 10}   {2 2 4 4}     1
    "one pixel across"    {0 0 10 10}   {9 9 20 20}   1
    "touching side"       {0 0 10 10}   {10 0 20 10}  0
    "touching bottom"     {0 0 10 10}   {0 10 10 20}  0
    "touching corner"     {0 0 10 10}   {10 10 20 20} 0
    "apart"               {0 0 10 10}   {30 0 40 10}  0
    "same columns, below" {0 0 10 10}   {0 11 10 20}  0
    "fractional"          {0 0 10 10.5} {0 10 10 20}  1
} {
    check "overlaps $name" [overlaps $a $b] $want
    check "overlaps $name, swapped" [overlaps $b $a] $want
}

check "union with nothing" [union "" {1 2 3 4}] {1 2 3 4}
check "union" [union {0 5 10 6} {2 1 12 4}] {0 1 12 6}
check "border from its points" [points_rect {19 138 89 138 89 176 19 176 19 138}] {19 138 89 176}

foreach {name rect want} {
    "inside"             {0 0 780 647}    {}
    "past right"         {598 178 985 217} {right 205}
    "past bottom, left"  {-3 600 10 700}   {left 3 bottom 53}
    "past top"           {10 -1 20 5}      {top 1}
} {
    check "beyond $name" [beyond $rect {0 0 780 647}] $want
}

foreach {kind text want} {
    comment "two\nlines  of text"   {comment "two lines of text"}
    obj     "s attackscope-help-play" {object [s attackscope-help-play]}
    msg     ";\npd dsp 1"            {message [; pd dsp 1]}
    atom    "0"                      {number box [0]}
    comment "a comment that is longer than forty characters, cut"
            {comment "a comment that is longer than forty c..."}
} {
    check "describe $kind" [describe [dict create kind $kind text $text rect {0 0 1 1}]] $want
}

# A box is found once per box it covers, and once for the edges it passes; a box that fits finds
# nothing.
set boxes [list \
    [dict create kind comment text "wide" rect {0 0 500 40}] \
    [dict create kind obj text "f" rect {10 20 40 44}] \
    [dict create kind obj text "g" rect {10 60 40 84}] \
    [dict create kind msg text "m" rect {10 20 30 30}]]
check "findings" [findings w $boxes {0 0 400 300}] [list \
    {overlap: w: comment "wide" and object [f]} \
    {overlap: w: comment "wide" and message [m]} \
    {overlap: w: object [f] and message [m]} \
    {outside: w: comment "wide" past the right edge by 100 px}]
check "no findings" [findings w [lrange $boxes 2 2] {0 0 400 300}] {}

set boxes [list \
    [dict create kind obj text "pd reference" rect {}] \
    [dict create kind obj text "pd~ -ninsig 2" rect {}] \
    [dict create kind comment text "pd META" rect {}] \
    [dict create kind obj text "pd  META" rect {}] \
    [dict create kind obj text "pd" rect {}]]
check "subpatch names" [subpatch_names $boxes] {reference META}

if {$failures > 0} {
    puts "$failures failed"
    exit 1
}
puts "ok"
