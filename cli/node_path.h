// NODE arguments of gleaner-cli: the labels from a top-level node down,
// joined by "/"; "LABEL#N" names the N-th of several siblings that share LABEL.
#pragma once
#include <string>
#include <vector>

#include "disk/tree_sink.h"

// A node's text as the tree shows it.
std::string TreeLabel(const TreeNode& node);

// The labels of a NODE argument; empty for an empty argument or one with an
// empty label ("A//B", a trailing "/").
std::vector<std::string> SplitNodePath(const std::string& path);

// The index of the sibling that `name` names, or -1. A label matches as it
// stands or as tree prints it (SafeCellText). A label that some sibling
// carries names the first such sibling (so a name that really ends in "#2"
// is found); otherwise "LABEL#N" names the N-th sibling labelled LABEL,
// counted from 1.
int FindSibling(const std::vector<TreeNode>& siblings, const std::string& name);
