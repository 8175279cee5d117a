// The workspace tree: bases by format and the mountpoints of the linked server.
export function renderTree(element, roots) {
  element.replaceChildren(list(roots));
}

function list(nodes) {
  const ul = document.createElement('ul');
  for (const node of nodes) {
    const li = document.createElement('li');
    const label = document.createElement('span');
    label.textContent = node.text;
    label.className = `node-${node.kind}`;
    if (node.checkBoxes) {
      const box = document.createElement('input');
      box.type = 'checkbox';
      li.append(box);
    }
    li.append(label);
    if (node.children.length > 0) li.append(list(node.children));
    ul.append(li);
  }
  return ul;
}
