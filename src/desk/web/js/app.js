// The desk's page: the token, the API and the routes. Each view is a module whose render()
// fills <main> from the API; the address after '#' names the view, so Back works and a view
// can be sent to a colleague as a link.
import {h, errorBox, nodes} from './dom.js';
import * as login from './login.js';
import * as search from './search.js';
import * as timeline from './timeline.js';
import * as report from './report.js';
import * as diff from './diff.js';

const kTokenKey = 'trawler-desk-token';

export function token() {
  return sessionStorage.getItem(kTokenKey);
}

export function setToken(value) {
  if (value) sessionStorage.setItem(kTokenKey, value);
  else sessionStorage.removeItem(kTokenKey);
  document.getElementById('sign-out').hidden = !value;
}

export class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

// A call to /api/v1/PATH with the token; the answer as a Response. A refused token sends the
// person back to the sign-in, keeping where they were going.
export async function request(path, token_ = token()) {
  const response = await fetch('/api/v1/' + path, {
    headers: {Authorization: 'Bearer ' + token_},
    cache: 'no-store',
  });
  if (response.ok) return response;
  let message = `HTTP ${response.status}`;
  try {
    message = (await response.json()).error ?? message;
  } catch {
    // The body was not the API's JSON error; the status says enough.
  }
  throw new ApiError(response.status, message);
}

export async function api(path) {
  return (await request(path)).json();
}

// One view per route: #/, #/search?..., #/unit/N, #/package/SHA, #/diff?a=&b=, #/login.
const kRoutes = [
  [/^\/?$/, search],
  [/^\/search$/, search],
  [/^\/unit\/([^/]+)$/, timeline],
  [/^\/package\/([^/]+)$/, report],
  [/^\/diff$/, diff],
  [/^\/login$/, login],
];

function parseHash() {
  const hash = location.hash.replace(/^#/, '') || '/';
  const [path, query = ''] = hash.split('?');
  return {path, params: new URLSearchParams(query)};
}

// A part of the address as typed; one that is not valid percent-encoding is taken as it is.
function decoded(part) {
  try {
    return decodeURIComponent(part);
  } catch {
    return part;
  }
}

let renderCount = 0;

async function route() {
  const {path, params} = parseHash();
  const main = document.getElementById('main');
  const mine = ++renderCount;
  let view = null;
  let args = [];
  for (const [pattern, module] of kRoutes) {
    const m = pattern.exec(path);
    if (m) {
      view = module;
      args = m.slice(1).map(decoded);
      break;
    }
  }
  let viewParams = params;
  if (view !== login && !token()) {
    viewParams = new URLSearchParams({next: location.hash || '#/'});
    view = login;
    args = [];
  }
  main.replaceChildren();
  if (!view) {
    main.append(h('h1', {tabindex: '-1'}, 'Not found'),
      errorBox(`The desk's page has no view at "${path}".`),
      h('p', {}, h('a', {href: '#/'}, 'Back to the search')));
    focusHeading(main);
    return;
  }
  try {
    // A slower answer for a view the person has already left is dropped.
    const content = await view.render(args, viewParams);
    if (mine !== renderCount) return;
    main.replaceChildren(...nodes(content));
  } catch (e) {
    if (mine !== renderCount) return;
    if (e instanceof ApiError && e.status === 401) {
      setToken(null);
      main.replaceChildren(
        ...nodes(await login.render([], new URLSearchParams({next: location.hash}), e.message)));
    } else {
      main.replaceChildren(h('h1', {tabindex: '-1'}, 'Something went wrong'),
        errorBox(e.message), h('p', {}, h('a', {href: '#/'}, 'Back to the search')));
    }
  }
  document.title = `${main.querySelector('h1')?.textContent ?? 'Trawler Desk'} · Trawler Desk`;
  focusHeading(main);
}

// After a view changes, keyboard and screen-reader users start at its heading.
function focusHeading(main) {
  const heading = main.querySelector('h1');
  if (heading) {
    heading.setAttribute('tabindex', '-1');
    heading.focus({preventScroll: false});
  }
}

export function go(hash) {
  if (location.hash === hash) route();
  else location.hash = hash;
}

document.getElementById('sign-out').addEventListener('click', () => {
  setToken(null);
  go('#/login');
});
setToken(token());
window.addEventListener('hashchange', route);
route();
