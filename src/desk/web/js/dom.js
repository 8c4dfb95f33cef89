// Building the page's elements. Every value from a package becomes a text node: nothing here
// parses markup, so a customer named "<img src=x onerror=...>" is shown as those characters.

// h('a', {href: '#/'}, 'Search'): an element with properties and children. Strings and
// numbers among the children are text; null and false are left out; arrays are flattened.
export function h(tag, props, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(props || {})) {
    if (value === null || value === undefined || value === false) continue;
    if (name === 'className') node.className = value;
    else if (name === 'text') node.textContent = String(value);
    else if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
    else node.setAttribute(name, value === true ? '' : String(value));
  }
  append(node, children);
  return node;
}

// A view's content as a flat list of nodes, for replaceChildren().
export function nodes(children) {
  const fragment = document.createDocumentFragment();
  append(fragment, children);
  return [...fragment.childNodes];
}

function append(node, children) {
  for (const child of children) {
    if (child === null || child === undefined || child === false) continue;
    if (Array.isArray(child)) append(node, child);
    else if (child instanceof Node) node.appendChild(child);
    else node.appendChild(document.createTextNode(String(child)));
  }
}

// A definition list of [term, value] pairs; a value may be text or an element.
export function facts(pairs) {
  return h('dl', {className: 'facts'},
    pairs.map(([term, value]) => [h('dt', {}, term), h('dd', {}, value)]));
}

// A table in a box that scrolls sideways on its own when it cannot wrap any further.
export function table(caption, headings, rows) {
  return h('div', {className: 'table-box'},
    h('table', {},
      caption ? h('caption', {}, caption) : null,
      h('thead', {}, h('tr', {}, headings.map((t) => h('th', {scope: 'col'}, t)))),
      h('tbody', {}, rows)));
}

// A text from the field (customer, comment, PC line): shown as stored, or "(none)".
export function fieldText(text) {
  if (text === null || text === undefined) return h('span', {className: 'muted'}, '(none)');
  return h('span', {className: 'field-text value'}, text);
}

export function errorBox(message) {
  return h('p', {className: 'error', role: 'alert'}, message);
}
